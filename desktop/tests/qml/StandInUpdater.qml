import QtQuick

// Stands in for `updater`: tests set the state and fields and emit the signals themselves.
QtObject {
    property string state: "idle"
    property string statusText: ""
    property real progress: 0
    property double totalBytes: 0
    property double downloadedBytes: 0
    property string remoteVersion: ""
    property int fileCount: 0
    property bool hasUpdate: false
    property string previousError: ""
    property string lang: ""
    property int downloadsStarted: 0
    signal noUpdateAvailable()
    signal updateReadyToInstall()
    signal updateSkipped()
    signal updateFailed(string message)
    function setLang(l) { lang = l }
    function startDownload() { downloadsStarted += 1 }
}
