import QtQuick
import "../theme"

// Error caption under a field.
Text {
    property bool show: false
    visible: show
    textFormat: Text.PlainText
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeCaption
    color: Theme.errorColor
    wrapMode: Text.Wrap
    horizontalAlignment: Text.AlignLeft
}
