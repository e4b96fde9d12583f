import QtQuick
import Kovra.Design

// The small circular progress indicator of a report card's header: a three-quarter
// ring that turns while shown (and stands still when motion is reduced).
Item {
    id: indicator

    implicitWidth: 14
    implicitHeight: 14
    Accessible.role: Accessible.Animation

    Canvas {
        id: ring
        objectName: "ring"
        anchors.fill: parent
        property color stroke: Brand.textSecondary
        onStrokeChanged: requestPaint()

        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            ctx.lineWidth = 2;
            ctx.lineCap = "round";
            ctx.strokeStyle = stroke;
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, Math.min(width, height) / 2 - 1.5, 0, 1.5 * Math.PI);
            ctx.stroke();
        }

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: indicator.visible && !Brand.reduceMotion
        }
    }
}
