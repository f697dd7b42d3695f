import QtQuick
import "../../theme"

Text {
    textFormat: Text.PlainText
    elide: Text.ElideRight
    color: Theme.textWhite
    font.family: Lang.titleFont
    font.pixelSize: Theme.fontSizeHeading
    font.bold: true
}
