import QtQuick
import Qt5Compat.GraphicalEffects
import "../../components"
import "../../theme"

// One game of the catalogue: its art, status, counts; a click opens its servers.
Item {
    id: card
    required property var modelData
    required property GameServersLogic logic
    readonly property var game: modelData
    readonly property string status: logic.gameStatus(game)
    readonly property bool hovered: cardArea.containsMouse && status !== "unavailable"
    objectName: "gameCard_" + game.id
    width: 420
    height: 210
    scale: hovered ? 1.015 : 1
    opacity: status === "unavailable" ? 0.55 : 1
    Behavior on scale { NumberAnimation { duration: 160 } }

    Item {
        id: art
        anchors.fill: parent
        layer.enabled: true
        layer.effect: OpacityMask {
            maskSource: Rectangle { width: art.width; height: art.height; radius: Theme.borderRadius }
        }
        Rectangle {
            anchors.fill: parent
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop { position: 0; color: Qt.darker(card.game.accent, 3.2) }
                GradientStop { position: 1; color: "#15151b" }
            }
        }
        RemoteImage {
            id: picture
            anchors.fill: parent
            url: card.game.image
            fillMode: Image.PreserveAspectCrop
            visible: false
        }
        Desaturate {
            anchors.fill: parent
            source: picture
            visible: picture.status === Image.Ready
            desaturation: card.hovered ? 0 : 0.85
            Behavior on desaturation { NumberAnimation { duration: 220 } }
        }
        Rectangle {
            anchors.fill: parent
            gradient: Gradient {
                GradientStop { position: 0; color: Qt.rgba(0, 0, 0, card.hovered ? 0.15 : 0.35) }
                GradientStop { position: 1; color: Qt.rgba(0, 0, 0, card.hovered ? 0.7 : 0.85) }
            }
        }
    }
    Rectangle {
        anchors.fill: parent
        radius: Theme.borderRadius
        color: "transparent"
        border.color: card.hovered ? Qt.rgba(1, 1, 1, 0.18) : Theme.glassBorder
    }

    Rectangle {
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 14
        height: 24
        width: pillText.implicitWidth + 30
        radius: 12
        color: Qt.rgba(0, 0, 0, 0.55)
        border.color: Qt.rgba(1, 1, 1, 0.12)
        Row {
            anchors.centerIn: parent
            spacing: 6
            Rectangle {
                width: 7; height: 7; radius: 3.5
                anchors.verticalCenter: parent.verticalCenter
                color: logic.statusColor(card.status)
            }
            Text {
                id: pillText
                text: logic.statusLabel(card.status)
                color: logic.statusColor(card.status)
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeSmall
                font.bold: true
            }
        }
    }

    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 18
        spacing: 4
        Text {
            anchors.left: parent.left
            text: card.game.shortName
            textFormat: Text.PlainText
            color: card.game.accent
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeSmall
            font.bold: true
            font.letterSpacing: Lang.isPersian ? 0 : 0.6
        }
        Text {
            width: parent.width
            text: card.game.name
            horizontalAlignment: Text.AlignLeft
            textFormat: Text.PlainText
            color: Theme.textWhite
            font.family: Lang.titleFont
            font.pixelSize: 22
            font.bold: true
            elide: Text.ElideRight
        }
        GameCaption {
            width: parent.width
            text: card.game.description
            color: Qt.rgba(1, 1, 1, 0.7)
            visible: text !== ""
        }
        Row {
            anchors.left: parent.left
            topPadding: 6
            spacing: 22
            Repeater {
                model: [[card.game.players, Lang.playersLabel], [card.game.servers, Lang.serversLabel]]
                delegate: Row {
                    spacing: 6
                    Text {
                        text: Lang.number(modelData[0])
                        textFormat: Text.PlainText
                        color: Theme.textWhite
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody + 2
                        font.bold: true
                    }
                    GameCaption {
                        anchors.baseline: parent.children[0].baseline
                        text: modelData[1]
                        color: Qt.rgba(1, 1, 1, 0.6)
                    }
                }
            }
        }
    }

    MouseArea {
        id: cardArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: card.status === "unavailable" ? Qt.ForbiddenCursor : Qt.PointingHandCursor
        onClicked: logic.openGame(card.game)
    }
}
