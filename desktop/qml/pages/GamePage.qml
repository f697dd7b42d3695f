import QtQuick
import QtQuick.Controls
import "../components"
import "../theme"
import "game"

// Dedicated servers: the games the service hosts, the servers of one game
// with their latency, and the local forward that gets the game onto one.
// The page lays out its panels; the lists, requests and timers are the logic's,
// which every panel binds to.
Item {
    id: page

    property var toast

    readonly property alias logic: gameLogic
    property alias motdText: gameLogic.motdText
    property alias connectingToServer: gameLogic.connectingToServer
    property alias showingConnection: gameLogic.showingConnection

    // Timings, properties so tests can shorten them.
    property alias gamesRefreshSeconds: gameLogic.gamesRefreshSeconds
    property alias serversRefreshSeconds: gameLogic.serversRefreshSeconds
    property alias tickMs: gameLogic.tickMs
    property alias connectionStepMs: gameLogic.connectionStepMs
    property alias disconnectDelayMs: gameLogic.disconnectDelayMs
    property alias copiedMarkMs: gameLogic.copiedMarkMs

    GameServersLogic {
        id: gameLogic
        shown: page.visible
        onScrollToTop: scroller.contentY = 0
        onDisconnectFinished: disconnectDialog.hide()
    }


    Flickable {
        id: scroller
        anchors.fill: parent
        anchors.leftMargin: Theme.spacingLarge
        anchors.rightMargin: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        anchors.bottomMargin: motdLine.visible ? motdLine.height + Theme.spacing : 0
        contentWidth: width
        contentHeight: content.implicitHeight + 48
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: content
            width: scroller.width
            spacing: 18

            GameHeader {
                logic: gameLogic
                onDisconnectAsked: disconnectDialog.show(Lang.confirmDisconnect)
            }
            GamePicker {
                width: parent.width
                logic: gameLogic
                pageScroller: scroller
                pageContent: content
            }
            GameServerList {
                logic: gameLogic
                pageScroller: scroller
                pageContent: content
            }
            GameConnectionCard {
                logic: gameLogic
            }
        }
    }

    // ---- Message of the day: centred at the bottom of the page ------------------------
    Text {
        id: motdLine
        objectName: "gameMotd"
        visible: gameLogic.motdText !== ""
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: Theme.spacingLarge
        anchors.rightMargin: Theme.spacingLarge
        anchors.bottomMargin: Theme.spacing
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: gameLogic.motdText
        textFormat: Text.PlainText
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeBody
        maximumLineCount: 3
        elide: Text.ElideRight
    }

    // ---- Connecting cover -----------------------------------------------------------
    ConnectingCover {
        id: connectingCover
        objectName: "connectingCover"
        visible: gameLogic.connectingToServer
        text: gameLogic.stepText(gameLogic.connectionStep)
        textObjectName: "connectingStep"
    }

    ConfirmDialog {
        id: disconnectDialog
        anchors.fill: parent
        onConfirmed: gameLogic.confirmDisconnect()
        onCancelled: gameLogic.cancelDisconnect()
    }
}
