import QtQuick
import "../../theme"

Rectangle {
    property int count: 0
    property color tone: Theme.primaryPurple
    property real fill: 0.35
    property alias textColor: countText.color
    implicitWidth: Math.max(24, countText.implicitWidth + 14)
    implicitHeight: 22
    radius: 11
    color: Qt.rgba(tone.r, tone.g, tone.b, fill)
    Text {
        id: countText
        anchors.centerIn: parent
        text: Lang.number(parent.count)
        textFormat: Text.PlainText
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.bold: true
    }
}
