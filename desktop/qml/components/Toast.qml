import QtQuick
import "../theme"

// Short messages stacked at the bottom centre: at most two, newest at the bottom.
Item {
    id: toast
    property int stayMs: 3000
    readonly property int count: messages.count
    property int _nextId: 0

    anchors.fill: parent

    function success(message) { show(message, "success") }
    function error(message) { show(message, "error") }

    function show(message, type) {
        let text = String(message === undefined || message === null ? "" : message)
        if (text.length > 80)
            text = text.substring(0, 77) + "..."
        if (messages.count > 0 && messages.get(messages.count - 1).text === text)
            return
        while (messages.count >= 2)
            messages.remove(0)
        messages.append({ uid: _nextId++, text: text, kind: type === "error" ? "error" : "success" })
    }

    // The texts shown, oldest first.
    function texts() {
        const result = []
        for (let i = 0; i < messages.count; ++i)
            result.push(messages.get(i).text)
        return result
    }

    function _remove(uid) {
        for (let i = 0; i < messages.count; ++i) {
            if (messages.get(i).uid === uid) {
                messages.remove(i)
                return
            }
        }
    }

    ListModel { id: messages }

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 28
        spacing: 8

        Repeater {
            model: messages
            delegate: Rectangle {
                id: card
                required property int uid
                required property string text
                required property string kind
                readonly property color tone: kind === "error" ? Theme.errorColor : Theme.accentLime

                anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
                width: Math.min(Math.max(340, row.implicitWidth + 40), toast.width - 40)
                height: Math.max(44, label.implicitHeight + 20)
                radius: Theme.borderRadiusSmall
                color: Theme.toastBg
                border.width: 1
                border.color: Theme.glassBorder
                opacity: 0

                Rectangle {
                    width: 4
                    height: parent.height - 16
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.left: parent.left
                    anchors.leftMargin: 8
                    radius: 2
                    color: card.tone
                }
                Row {
                    id: row
                    anchors.centerIn: parent
                    width: parent.width - 40
                    spacing: 10
                    Text {
                        id: mark
                        text: card.kind === "error" ? "\u2717" : "\u2713"
                        color: card.tone
                        font.pixelSize: 15
                        font.bold: true
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        id: label
                        objectName: "toastText"
                        width: row.width - mark.width - row.spacing
                        anchors.verticalCenter: parent.verticalCenter
                        // A text reads in the direction of its first strong letter, so a Persian
                        // message that opens with a Latin name would read left to right. The
                        // mark of the window's direction goes first: it is strong and invisible.
                        text: (toast.LayoutMirroring.enabled ? "\u200f" : "\u200e") + card.text
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        maximumLineCount: 3
                        elide: Text.ElideRight
                        color: Theme.textPrimary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                        horizontalAlignment: Text.AlignLeft
                    }
                }

                SequentialAnimation {
                    running: true
                    NumberAnimation { target: card; property: "opacity"; from: 0; to: 1; duration: 200 }
                    PauseAnimation { duration: toast.stayMs }
                    NumberAnimation { target: card; property: "opacity"; to: 0; duration: 300 }
                    ScriptAction { script: toast._remove(card.uid) }
                }
            }
        }
    }
}
