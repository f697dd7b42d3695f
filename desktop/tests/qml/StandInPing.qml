import QtQuick

// Stands in for `ping`: records the hosts asked for and the lists kept; tests
// answer through the signals.
QtObject {
    property var asked: []
    property var kept: []
    signal pingMeasured(string host, int ms)
    signal pingFailed(string host)
    function pingHost(host) { asked.push(host) }
    function keepOnly(hosts) { kept.push(hosts) }
    function cachedPing(host) { return -1 }
}
