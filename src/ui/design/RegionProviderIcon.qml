import QtQuick
import Kovra.Design

// A small badge naming a server's hosting provider (`provider`, a ProviderKind;
// `providerName` is the name of an Other provider). Google Cloud and AWS get a
// text badge on white (readable in both appearances), the others the server
// symbol. Absent shows nothing and takes no space.
Item {
    id: icon

    property int provider: ProviderKind.Absent
    property string providerName

    readonly property bool absent: provider === ProviderKind.Absent
    readonly property bool hasBadge: provider === ProviderKind.Gcp || provider === ProviderKind.Aws
    readonly property string accessibleName: {
        switch (provider) {
        case ProviderKind.Gcp: return "Google Cloud"
        case ProviderKind.Aws: return "Amazon Web Services"
        case ProviderKind.HipHosting: return "HipHosting"
        case ProviderKind.Ztv: return "ZTV"
        case ProviderKind.Other: return providerName
        default: return ""
        }
    }

    visible: !absent
    implicitWidth: absent ? 0 : hasBadge ? badge.width : symbol.implicitWidth
    implicitHeight: absent ? 0 : hasBadge ? badge.height : 18
    Accessible.role: Accessible.Graphic
    Accessible.name: accessibleName
    Accessible.ignored: absent

    Rectangle {
        id: badge
        objectName: "badge"
        anchors.verticalCenter: parent.verticalCenter
        visible: icon.hasBadge
        width: image.width + 10
        height: image.height + 6
        radius: 6
        color: "white"

        Image {
            id: image
            objectName: "badgeImage"
            x: 5
            y: 3
            height: 12
            width: implicitHeight > 0 ? implicitWidth * height / implicitHeight : 0
            sourceSize.height: 36
            fillMode: Image.PreserveAspectFit
            smooth: true
            source: icon.provider === ProviderKind.Gcp ? "assets/ProviderGCP.svg"
                  : icon.provider === ProviderKind.Aws ? "assets/ProviderAWS.svg" : ""
        }
    }
    SymbolIcon {
        id: symbol
        objectName: "serverSymbol"
        anchors.verticalCenter: parent.verticalCenter
        visible: !icon.absent && !icon.hasBadge
        name: "server.rack"
        size: Brand.caption2Font.pixelSize + 2
        height: 18
        color: Brand.textSecondary
    }
}
