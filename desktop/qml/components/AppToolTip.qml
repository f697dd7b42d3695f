import QtQuick
import QtQuick.Controls.Basic
import "../theme"

// Tooltip in the theme's colours.
ToolTip {
    id: tip
    delay: 500
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeSmall
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        font: tip.font
        color: Theme.textPrimary
    }
    background: Rectangle {
        color: Theme.tooltipBg
        border.color: Theme.tooltipBorder
        radius: 6
    }
}
