import QtQuick
import "../theme"

// Pill with a pulsing dot: lime when active, amber when warning, dimmed otherwise.
Rectangle {
    id: badge
    property string label: "Connected"
    property bool active: true
    property bool warning: false
    readonly property color tone: warning ? "#f3c84b" : (active ? Theme.accentLime : Theme.textDimmed)

    height: 26
    implicitWidth: row.implicitWidth + 20
    radius: height / 2
    color: Qt.rgba(tone.r, tone.g, tone.b, 0.12)
    border.width: 1
    border.color: Qt.rgba(tone.r, tone.g, tone.b, 0.3)

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 7
        Rectangle {
            id: dot
            width: 7
            height: 7
            radius: 3.5
            anchors.verticalCenter: parent.verticalCenter
            color: badge.tone
            SequentialAnimation on opacity {
                running: badge.active || badge.warning
                loops: Animation.Infinite
                onRunningChanged: if (!running) dot.opacity = 1
                NumberAnimation { from: 1; to: 0.35; duration: 1200 }
                NumberAnimation { from: 0.35; to: 1; duration: 1200 }
            }
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: badge.label
            textFormat: Text.PlainText
            color: badge.tone
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeSmall
            font.bold: true
            font.letterSpacing: Lang.isPersian ? 0 : 0.6
        }
    }
}
