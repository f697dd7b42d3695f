import QtQuick
import "../theme"

// Translucent rounded card with a soft shadow.
Item {
    id: card
    property bool elevated: false
    default property alias content: body.data
    property alias radius: face.radius

    Rectangle {
        anchors.fill: face
        anchors.topMargin: 2
        anchors.bottomMargin: -2
        radius: face.radius
        color: Qt.rgba(0, 0, 0, 0.2)
    }
    Rectangle {
        id: face
        anchors.fill: parent
        radius: Theme.borderRadius
        color: card.elevated ? Theme.glassElevated : Theme.glassBg
        border.width: 1
        border.color: Theme.glassBorder
    }
    Item {
        id: body
        anchors.fill: parent
    }
}
