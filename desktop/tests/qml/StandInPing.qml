import QtQuick

// Stands in for `ping`: records the hosts asked for; tests answer through the signals.
QtObject {
    property var asked: []
    signal pingMeasured(string host, int ms)
    signal pingFailed(string host)
    function pingHost(host) { asked.push(host) }
    function cachedPing(host) { return -1 }
}
