import QtQuick
import "../../theme"

// The catalogue: a card per game the service hosts, skeletons while it loads.
// A catalogue runs to thousands of games: cards are made for those in view only.
Column {
    id: picker
    required property GameServersLogic logic
    // The page's Flickable and its content: the cards in view are those the page shows.
    required property Flickable pageScroller
    required property Item pageContent
    readonly property int cardWidth: 420
    readonly property int cardHeight: 210
    readonly property int cardSpacing: 16
    readonly property int columns: Math.max(1, Math.floor((width + cardSpacing) / (cardWidth + cardSpacing)))
    visible: !logic.showingServerFlow
    spacing: 18

    Grid {
        anchors.left: parent.left
        visible: logic.loading
        columns: picker.columns
        spacing: picker.cardSpacing
        Repeater {
            model: logic.loading ? 3 : 0
            Rectangle {
                width: picker.cardWidth; height: picker.cardHeight; radius: Theme.borderRadius
                color: Theme.glassBg
                border.color: Theme.glassBorder
                OpacityAnimator on opacity { from: 0.4; to: 1; duration: 900; loops: Animation.Infinite; running: true }
            }
        }
    }
    GameRowsInView {
        id: cardRows
        readonly property var games: logic.loading ? [] : logic.games
        pageScroller: picker.pageScroller
        pageContent: picker.pageContent
        visible: !logic.loading
        width: picker.width
        height: Math.max(0, Math.ceil(games.length / picker.columns) * (picker.cardHeight + picker.cardSpacing)
                            - picker.cardSpacing)

        GridView {
            id: gameGrid
            objectName: "gameGrid"
            // A cell holds the spacing after its card; right to left, the first
            // card's spacing stands beyond the reading side's edge.
            anchors.left: parent.left
            anchors.leftMargin: effectiveLayoutDirection === Qt.RightToLeft ? -picker.cardSpacing : 0
            y: cardRows.viewY
            width: picker.columns * cellWidth
            height: cardRows.viewHeight
            cellWidth: picker.cardWidth + picker.cardSpacing
            cellHeight: picker.cardHeight + picker.cardSpacing
            interactive: false
            reuseItems: true
            model: cardRows.games
            onYChanged: follow()
            onCountChanged: follow()
            onContentHeightChanged: follow()
            function follow() { contentY = originY + y }
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
