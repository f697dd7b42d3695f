import QtQuick

// Pop-up for a new announcement (filled in with its card, sound and animation separately).
Item {
    id: overlay
    property string title: ""
    property string body: ""
    property int announceId: 0
    signal openAnnouncements()
    signal dismissed()

    anchors.fill: parent
    visible: false

    function show(t, b, id) {
        title = t
        body = b
        announceId = id
        visible = true
    }
    function hide() {
        visible = false
        dismissed()
    }
}
