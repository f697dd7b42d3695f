import QtQuick
import "../../components"
import "../../theme"

Rectangle {
    id: iconButton
    property alias source: icon.source
    property string tip: ""
    property bool spinning: false
    property bool highlighted: false
    signal clicked()
    implicitWidth: 34
    implicitHeight: 34
    radius: 10
    color: iconMouse.containsMouse || highlighted ? Theme.glassHover : Theme.glassBg
    border.width: 1
    border.color: Theme.glassBorder
    Image {
        id: icon
        anchors.centerIn: parent
        width: 16
        height: 16
        sourceSize: Qt.size(32, 32)
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 800
            loops: Animation.Infinite
            running: iconButton.spinning
            onRunningChanged: if (!running) icon.rotation = 0
        }
    }
    MouseArea {
        id: iconMouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: iconButton.clicked()
    }
    AppToolTip {
        visible: iconButton.tip !== "" && iconMouse.containsMouse
        text: iconButton.tip
    }
}
