import QtQuick
import "../../components"
import "../../theme"

// One server of the list: name, map, latency, players, and its Join button.
Item {
    id: row
    required property var modelData
    required property GameServersLogic logic
    readonly property var server: modelData
    readonly property bool joinable: server.capacity > 0 && server.players < server.capacity && !logic.connectingToServer
    objectName: "serverRow_" + server.id
    height: 56

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: rowArea.containsMouse ? Theme.glassHover : "transparent"
    }
    MouseArea { id: rowArea; anchors.fill: parent; hoverEnabled: true }

    Row {
        anchors.fill: parent
        Item {
            width: row.width * 0.26; height: parent.height
            Column {
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - 12
                Text {
                    width: parent.width
                    text: row.server.name
                    horizontalAlignment: Text.AlignLeft
                    textFormat: Text.PlainText
                    color: Theme.textPrimary
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    font.bold: true
                    elide: Text.ElideRight
                }
                GameCaption {
                    width: parent.width
                    visible: text !== ""
                    text: [row.server.region, row.server.ownerName].filter(function (t) { return t !== "" }).join(" · ")
                    font.pixelSize: Theme.fontSizeCaption
                }
            }
        }
        Item {
            width: row.width * 0.17; height: parent.height
            GameCaption {
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - 12
                text: row.server.map
                color: Theme.textPrimary
                font.pixelSize: Theme.fontSizeBody
            }
        }
        Item {
            width: row.width * 0.13; height: parent.height
            Text {
                objectName: "pingText"
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                text: row.server.ping >= 0 ? Lang.quantity(row.server.ping, "ms") : "…"
                color: row.server.ping >= 0 ? logic.pingColor(row.server.ping) : Theme.textSecondary
                font.family: Lang.figureFont
                font.pixelSize: Theme.fontSizeBody
            }
        }
        Item {
            width: row.width * 0.18; height: parent.height
            Column {
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                spacing: 5
                width: parent.width - 24
                Text {
                    anchors.left: parent.left
                    text: Lang.number(row.server.players + "/" + row.server.capacity)
                    color: Theme.textPrimary
                    font.family: Lang.figureFont
                    font.pixelSize: Theme.fontSizeSmall
                }
                Rectangle {
                    width: parent.width
                    height: 4
                    radius: 2
                    color: Theme.glassBorder
                    Rectangle {
                        height: parent.height
                        radius: 2
                        anchors.left: parent.left
                        width: row.server.capacity > 0 ? parent.width * Math.min(1, row.server.players / row.server.capacity) : 0
                        color: row.server.players >= row.server.capacity ? logic.amber : Theme.accentLime
                    }
                }
            }
        }
        Item {
            width: row.width * 0.26; height: parent.height
            PrimaryButton {
                objectName: "joinButton"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 110
                height: 34
                accent: true
                text: Lang.joinBtn
                enabled: row.joinable
                opacity: enabled || loading ? 1 : 0.35
                loading: logic.connectingToServer && logic.sameServer(logic.pendingServer, row.server)
                onClicked: logic.join(row.server)
            }
        }
    }
    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Qt.rgba(1, 1, 1, 0.04)
    }
}
