import QtQuick
import "../../theme"

// One game of the create form's list; a click picks it.
Rectangle {
    id: gameRow
    required property var modelData
    property bool selected: false
    signal picked()
    width: ListView.view.width
    height: 34
    radius: 8
    color: selected ? Theme.primaryPurple
                    : gameMouse.containsMouse ? Theme.glassHover : "transparent"
    Text {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        verticalAlignment: Text.AlignVCenter
        horizontalAlignment: Text.AlignLeft
        text: gameRow.modelData.game_name
        textFormat: Text.PlainText
        elide: Text.ElideRight
        color: gameRow.selected ? Theme.textWhite : Theme.textPrimary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeBody
    }
    MouseArea {
        id: gameMouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: gameRow.picked()
    }
}
