import QtQuick
import "../../theme"

// The message of the day, under the list or the room.
Text {
    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignHCenter
    wrapMode: Text.Wrap
    maximumLineCount: 2
    elide: Text.ElideRight
    color: Theme.textWhite
    font.family: Lang.bodyFont
    font.pixelSize: Theme.fontSizeCaption
}
