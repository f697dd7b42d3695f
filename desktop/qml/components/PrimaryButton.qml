import QtQuick
import QtQuick.Controls.Basic
import "../theme"

// Push button that turns into a spinner while its action runs.
Button {
    id: button
    property bool accent: false
    property bool loading: false
    property color buttonColor: accent ? Theme.accentLime : Theme.primaryPurple
    property color textColor: accent ? "#111111" : Theme.textPrimary

    implicitWidth: 180
    implicitHeight: 40
    enabled: !loading
    opacity: loading ? 0.7 : (accent ? 1 : 0.85)
    hoverEnabled: true
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeBody
    font.bold: true

    contentItem: Item {
        Text {
            anchors.fill: parent
            visible: !button.loading
            text: button.text
            textFormat: Text.PlainText
            font: button.font
            color: button.textColor
            opacity: button.enabled ? 1 : 0.6
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
        BusySpinner {
            anchors.centerIn: parent
            width: 18
            height: 18
            visible: button.loading
            color: button.textColor
        }
    }

    background: Rectangle {
        radius: Theme.borderRadiusSmall
        color: button.down ? Qt.darker(button.buttonColor, 1.2)
                           : button.hovered && button.enabled ? Qt.lighter(button.buttonColor, 1.1)
                                                              : button.buttonColor
        opacity: button.enabled || button.loading ? 1 : 0.45
    }

    HoverHandler { cursorShape: button.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor }
}
