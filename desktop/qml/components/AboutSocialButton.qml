import QtQuick
import "../theme"

// Link button with an icon and a label.
Rectangle {
    id: button
    property url iconSource
    property string label: ""
    signal clicked()

    width: 130
    height: 42
    radius: Theme.borderRadiusSmall
    color: area.containsMouse ? Theme.glassHover : Theme.glassBg
    border.width: 1
    border.color: Theme.glassBorder

    Row {
        anchors.centerIn: parent
        spacing: 8
        Image {
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            sourceSize: Qt.size(32, 32)
            source: button.iconSource
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: button.label
            textFormat: Text.PlainText
            color: Theme.textPrimary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
        }
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
