import QtQuick

// Stands in for `tray`: records every notice shown.
QtObject {
    property var messages: []
    signal showRequested()
    signal quitRequested()
    function showTrayMessage(title, message) { messages = messages.concat([{ title: title, message: message }]) }
}
