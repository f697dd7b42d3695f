import QtQuick

// Stands in for `logger`: counts sounds and keeps the lines logged.
QtObject {
    property int soundsPlayed: 0
    property var lines: []
    function logInfo(cat, msg) { lines = lines.concat(["I " + cat + " " + msg]) }
    function logError(cat, msg) { lines = lines.concat(["E " + cat + " " + msg]) }
    function playNotificationSound() { soundsPlayed += 1 }
}
