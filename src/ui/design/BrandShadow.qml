import QtQuick
import Qt5Compat.GraphicalEffects
import Kovra.Design

// The shadow or glow of a rounded shape, drawn behind it as a sibling: the shape
// itself never depends on effects, so where effects are unavailable only the
// shadow is missing. By default it shows the preset of `elevation`; glows set
// `color` and `glowRadius` themselves. Hidden while fully transparent.
RectangularGlow {
    id: shadow

    property Item target
    property int elevation: Elevation.None
    readonly property var preset: Brand.shadow(elevation)
    property real offsetX: preset.x
    property real offsetY: preset.y
    // Corner radius of the target shape; the glow's own corner follows it.
    property real shapeRadius: 0

    x: target ? target.x + offsetX : 0
    y: target ? target.y + offsetY : 0
    width: target ? target.width : 0
    height: target ? target.height : 0
    color: preset.color
    glowRadius: preset.radius
    spread: 0
    cornerRadius: shapeRadius + glowRadius
    visible: target !== null && color.a > 0 && glowRadius > 0
}
