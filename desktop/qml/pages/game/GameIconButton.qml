import QtQuick
import "../../theme"

// The page's small square button: an icon, or a glyph laid on it, that may spin.
Rectangle {
    id: iconButton
    property url icon
    property bool spinning: false
    signal clicked()
    width: 32; height: 32; radius: 10
    color: iconArea.containsMouse ? Theme.glassHover : Theme.glassBg
    border.color: Theme.glassBorder
    Image {
        anchors.centerIn: parent
        source: iconButton.icon
        sourceSize: Qt.size(16, 16)
        RotationAnimator on rotation {
            running: iconButton.spinning
            from: 0; to: 360; duration: 900; loops: Animation.Infinite
        }
    }
    MouseArea {
        id: iconArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: iconButton.clicked()
    }
}
