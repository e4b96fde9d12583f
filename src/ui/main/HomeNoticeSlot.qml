import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Main

// The home window's notice slot: at least `minimumHeight` high whether or not a banner
// shows, so that the layout below keeps its place. A banner that comes moves in from
// the top while it fades in; one that goes moves up and fades out; a change shows the
// old one going, then the new one coming. With reduce motion every change is at once.
Item {
    id: slot

    required property HomeNotice notice
    property real minimumHeight: 32
    property bool reduceMotion: Brand.reduceMotion
    // 0 while the banner is in place, 1 while it is out (moved up and transparent).
    property real offset: 1

    function take() {
        banner.tone = notice.tone
        banner.text = notice.text
        banner.actionTitle = notice.actionTitle
        banner.hasAction = notice.hasAction
    }

    function change() {
        swap.stop()
        if (reduceMotion) {
            take()
            offset = notice.visible ? 0 : 1
            return
        }
        leaving.duration = Math.round(250 * (1 - offset))
        coming.to = notice.visible ? 0 : 1
        coming.duration = notice.visible ? 250 : 0
        swap.start()
    }

    objectName: "noticeSlot"
    implicitHeight: Math.max(minimumHeight, banner.visible ? banner.implicitHeight : 0)
    Layout.fillWidth: true
    Layout.minimumHeight: minimumHeight

    Component.onCompleted: {
        take()
        offset = notice.visible ? 0 : 1
    }

    Connections {
        target: slot.notice
        function onChanged() { slot.change() }
    }

    SequentialAnimation {
        id: swap
        NumberAnimation { id: leaving; target: slot; property: "offset"; to: 1; easing.type: Easing.InOutQuad }
        ScriptAction { script: slot.take() }
        NumberAnimation { id: coming; target: slot; property: "offset"; from: 1; easing.type: Easing.InOutQuad }
    }

    NoticeBanner {
        id: banner
        objectName: "noticeBanner"
        width: slot.width
        visible: slot.offset < 1
        opacity: 1 - slot.offset
        transform: Translate { y: -banner.height * 0.5 * slot.offset }
        onActionTriggered: slot.notice.performAction()
    }
}
