import QtQuick
import Kovra.Design

// The full-window background of a screen or sheet; anchor it to the window.
Rectangle {
    color: Brand.background
}
