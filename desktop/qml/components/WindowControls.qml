import QtQuick
import "../theme"

// Minimise, maximise/restore and close (to the tray) of the frameless window.
Row {
    id: controls
    signal minimizeClicked()
    signal maximizeClicked()
    signal closeClicked()
    spacing: 2
    layoutDirection: Qt.LeftToRight

    ControlButton { icon: "qrc:/icons/minimize.svg"; onPressed: controls.minimizeClicked() }
    ControlButton { icon: "qrc:/icons/maximize.svg"; onPressed: controls.maximizeClicked() }
    ControlButton { icon: "qrc:/icons/close.svg"; danger: true; onPressed: controls.closeClicked() }

    component ControlButton: Rectangle {
        id: control
        property url icon
        property bool danger: false
        signal pressed()
        width: 32
        height: 28
        radius: 6
        color: area.containsMouse ? (danger ? "#e81123" : Theme.glassHover) : "transparent"
        Image {
            anchors.centerIn: parent
            width: 14
            height: 14
            sourceSize: Qt.size(28, 28)
            source: control.icon
            opacity: area.containsMouse ? 1 : 0.7
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            onClicked: control.pressed()
        }
    }
}
