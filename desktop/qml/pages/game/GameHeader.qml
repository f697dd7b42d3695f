import QtQuick
import "../../components"
import "../../theme"

// The page's title line: what is shown, Back, the refresh countdown and button,
// and Disconnect while connected.
Item {
    id: header
    required property GameServersLogic logic
    // Disconnect was pressed: the page asks the player to confirm.
    signal disconnectAsked()
    width: parent.width
    // A title or line that takes two lines makes the header taller.
    height: Math.max(64, titleRow.height)
    Row {
        id: titleRow
        // Room the title and its line leave the actions at the far side.
        readonly property real textRoom: parent.width - headerActions.width - 24
                                         - (logic.showingServers ? 32 + spacing : 0)
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        spacing: 12
        GameIconButton {
            visible: logic.showingServers
            anchors.verticalCenter: parent.verticalCenter
            icon: ""
            onClicked: logic.leaveServers()
            objectName: "backButton"
            Text {
                anchors.centerIn: parent
                text: "←"
                color: Theme.textPrimary
                font.pixelSize: 18
                transform: Scale { origin.x: 9; xScale: Lang.isPersian ? -1 : 1 }
            }
        }
        Column {
            spacing: 4
            Text {
                anchors.left: parent.left
                width: Math.min(implicitWidth, titleRow.textRoom)
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                text: logic.showingConnection ? logic.selectedServer.name
                    : logic.showingServerFlow ? logic.selectedGame.name : Lang.dedicatedServerGames
                textFormat: Text.PlainText
                color: Theme.textWhite
                font.family: Lang.titleFont
                font.pixelSize: Theme.fontSizeTitle
                font.bold: true
            }
            GameCaption {
                anchors.left: parent.left
                width: Math.min(implicitWidth, titleRow.textRoom)
                wrapMode: Text.Wrap
                maximumLineCount: 2
                text: logic.showingConnection ? Lang.dedicatedConnectionDesc
                    : logic.showingServerFlow ? Lang.serverListDesc : Lang.gameDesc
                font.pixelSize: Theme.fontSizeBody
            }
        }
    }
    Row {
        id: headerActions
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10
        StatusBadge {
            visible: logic.showingConnection
            anchors.verticalCenter: parent.verticalCenter
            label: Lang.connected
            active: true
        }
        GameCaption {
            anchors.verticalCenter: parent.verticalCenter
            // In a narrow window the connected server's name needs the room more.
            visible: (logic.showingServerFlow ? (!logic.serversLoading && !logic.serversRefreshing)
                                             : (!logic.loading && !logic.gamesRefreshing))
                     && !(logic.showingConnection && header.width < 900)
            text: Lang.refreshIn + " " + Lang.quantity(logic.showingServerFlow ? logic.serversRefreshCountdown
                                                                              : logic.gamesRefreshCountdown, "s")
        }
        GameIconButton {
            objectName: "refreshButton"
            anchors.verticalCenter: parent.verticalCenter
            icon: "qrc:/icons/refresh.svg"
            spinning: logic.showingServerFlow ? logic.serversRefreshing : logic.gamesRefreshing
            onClicked: {
                if (logic.showingServerFlow) {
                    if (!logic.serversLoading)
                        logic.fetchServers(false)
                } else if (!logic.loading) {
                    logic.fetchGames(false)
                }
            }
        }
        PrimaryButton {
            visible: logic.showingConnection
            width: 140
            anchors.verticalCenter: parent.verticalCenter
            buttonColor: Theme.errorColor
            text: Lang.disconnect
            onClicked: header.disconnectAsked()
        }
    }
}
