import QtQuick
import "../../theme"

// The catalogue: a card per game the service hosts, skeletons while it loads.
Column {
    id: picker
    required property GameServersLogic logic
    visible: !logic.showingServerFlow
    spacing: 18

    Grid {
        id: gameGrid
        anchors.left: parent.left
        visible: !logic.showingServerFlow
        columns: Math.max(1, Math.floor((picker.width + 16) / (420 + 16)))
        spacing: 16
        Repeater {
            model: logic.loading ? 3 : 0
            Rectangle {
                width: 420; height: 210; radius: Theme.borderRadius
                color: Theme.glassBg
                border.color: Theme.glassBorder
                OpacityAnimator on opacity { from: 0.4; to: 1; duration: 900; loops: Animation.Infinite; running: true }
            }
        }
        Repeater {
            model: logic.loading ? [] : logic.games
            delegate: GameCard { logic: picker.logic }
        }
    }
    GameCaption {
        visible: !logic.showingServerFlow && !logic.loading && logic.games.length === 0
        width: parent.width
        horizontalAlignment: Text.AlignHCenter
        topPadding: 40
        text: Lang.noResults
        font.pixelSize: Theme.fontSizeBody
    }
}
