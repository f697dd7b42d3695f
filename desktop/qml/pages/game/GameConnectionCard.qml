import QtQuick
import "../../components"
import "../../theme"

// A connection to one server: the forward's steps, the server's facts, the console
// command to paste into the game, and Launch Game.
// Two columns down to the smallest window, and cards no taller than their
// content: the connect code and Launch Game stand in view without scrolling.
Grid {
    id: connectionView
    required property GameServersLogic logic
    visible: logic.showingConnection
    width: parent.width
    columns: width > 560 ? 2 : 1
    spacing: 16
    readonly property real cardWidth: columns === 2 ? (width - spacing) / 2 : width
    readonly property real padding: 18
    readonly property real topHeight: Math.max(statusColumn.implicitHeight, infoColumn.implicitHeight)
                                      + 2 * padding
    readonly property real bottomHeight: commandColumn.implicitHeight + 2 * padding

    GlassCard {
        width: connectionView.cardWidth
        height: connectionView.topHeight
        elevated: true
        Column {
            id: statusColumn
            anchors.fill: parent
            anchors.margins: connectionView.padding
            spacing: 14
            GameCaption { anchors.left: parent.left; text: Lang.connectionStatus; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
            Text {
                anchors.left: parent.left
                text: logic.stepText(logic.connectionStep)
                color: logic.connectionReady ? logic.green : logic.amber
                font.family: Lang.titleFont
                font.pixelSize: Theme.fontSizeHeading
            }
            Rectangle {
                width: parent.width
                height: 6
                radius: 3
                color: Theme.glassBorder
                Rectangle {
                    anchors.left: parent.left
                    width: parent.width * Math.min(1, logic.connectionStep / 3)
                    height: parent.height
                    radius: 3
                    color: logic.connectionReady ? logic.green : logic.amber
                    Behavior on width { NumberAnimation { duration: 300 } }
                }
            }
        }
    }

    GlassCard {
        width: connectionView.cardWidth
        height: connectionView.topHeight
        elevated: true
        Column {
            id: infoColumn
            anchors.fill: parent
            anchors.margins: connectionView.padding
            spacing: 6
            GameCaption { anchors.left: parent.left; text: Lang.serverInfo; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
            Repeater {
                model: logic.selectedServer ? [
                    [Lang.gameColumn, logic.selectedGame ? logic.selectedGame.name : ""],
                    [Lang.mapColumn, logic.selectedServer.map],
                    [Lang.pingColumn, logic.selectedServer.ping >= 0 ? Lang.quantity(logic.selectedServer.ping, "ms") : "…"],
                    [Lang.capacity, Lang.number(logic.selectedServer.players + "/" + logic.selectedServer.capacity)]
                ] : []
                delegate: Item {
                    width: parent.width
                    height: 18
                    GameCaption { id: infoLabel; anchors.left: parent.left; text: modelData[0] }
                    Text {
                        anchors.right: parent.right
                        // Half a window is narrow: a long value gives way before it meets its label.
                        width: Math.min(implicitWidth, parent.width - infoLabel.implicitWidth - 12)
                        elide: Text.ElideRight
                        text: modelData[1]
                        textFormat: Text.PlainText
                        color: Theme.textPrimary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                    }
                }
            }
        }
    }

    GlassCard {
        width: connectionView.cardWidth
        height: connectionView.bottomHeight
        elevated: true
        Column {
            id: commandColumn
            anchors.fill: parent
            anchors.margins: connectionView.padding
            spacing: 12
            GameCaption { anchors.left: parent.left; text: Lang.consoleCommand; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
            Rectangle {
                width: parent.width
                height: 44
                radius: Theme.borderRadiusSmall
                color: Qt.rgba(0, 0, 0, 0.3)
                border.color: logic.linkCopied ? logic.green : Theme.glassBorder
                // A console command reads left to right in every language.
                LayoutMirroring.enabled: false
                LayoutMirroring.childrenInherit: true
                Text {
                    id: commandText
                    objectName: "connectCommand"
                    anchors.left: parent.left
                    anchors.leftMargin: 14
                    anchors.right: copyButton.left
                    anchors.rightMargin: 6
                    anchors.verticalCenter: parent.verticalCenter
                    text: logic.connectCommand
                    textFormat: Text.PlainText
                    color: Theme.accentLime
                    font.family: Theme.monoFont
                    font.pixelSize: Theme.fontSizeBody + 1
                    horizontalAlignment: Text.AlignLeft
                    elide: Text.ElideRight
                }
                GameIconButton {
                    id: copyButton
                    objectName: "copyCommand"
                    anchors.right: parent.right
                    anchors.rightMargin: 6
                    anchors.verticalCenter: parent.verticalCenter
                    icon: "qrc:/icons/copy.svg"
                    color: logic.linkCopied ? Qt.rgba(0.61, 0.94, 0.49, 0.25) : Theme.glassBg
                    onClicked: logic.copyCommand()
                }
            }
        }
    }

    Item {
        width: connectionView.cardWidth
        height: connectionView.bottomHeight
        PrimaryButton {
            objectName: "launchButton"
            anchors.centerIn: parent
            width: Math.min(parent.width, 260)
            height: 48
            accent: true
            enabled: logic.connectionReady
            text: Lang.launchGame
            onClicked: logic.launchGame()
        }
    }
}
