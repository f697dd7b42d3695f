import QtQuick
import "../../theme"

// Texts align to the reading side: the page mirrors its layout in Persian.
Text {
    horizontalAlignment: Text.AlignLeft
    color: Theme.textSecondary
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeSmall
    textFormat: Text.PlainText
    elide: Text.ElideRight
}
