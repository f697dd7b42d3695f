import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../components"
import "../../theme"

// The public rooms: title and count, refresh countdown, search, the rows with
// their placeholders while the first page loads. What is asked for and when is
// the logic's; this card shows it.
GlassCard {
    id: panel

    required property LanListLogic logic
    readonly property alias listView: vlanList
    // A narrow public list (the smallest windows): the search goes to a line of
    // its own, the owner and game stack in one column, the capacity bar goes.
    readonly property bool compact: width < 500

    function clearSearch() {
        searchField.text = ""
        logic.clearSearch()
    }

    GridLayout {
        id: listHeader
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: Theme.spacing
        height: panel.compact ? 38 + Theme.spacingSmall + 36 : 38
        columnSpacing: Theme.spacingSmall
        rowSpacing: Theme.spacingSmall

        CardTitle {
            Layout.row: 0
            Layout.column: 0
            text: Lang.publicVlans
        }
        CountBadge {
            Layout.row: 0
            Layout.column: 1
            count: panel.logic.publicVlansTotal
            tone: Theme.primaryPurple
            textColor: Theme.textWhite
        }
        Item { Layout.row: 0; Layout.column: 2; Layout.fillWidth: true }
        Text {
            id: countdownText
            objectName: "countdownText"
            Layout.row: 0
            Layout.column: 3
            visible: panel.logic.countingDown && !panel.logic.vlansLoading
            text: Lang.refreshIn + " " + Lang.quantity(panel.logic.refreshCountdown, "s")
            textFormat: Text.PlainText
            color: Theme.textDimmed
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeSmall
        }
        StyledTextField {
            id: searchField
            objectName: "searchField"
            Layout.row: panel.compact ? 1 : 0
            Layout.column: panel.compact ? 0 : 4
            Layout.columnSpan: panel.compact ? 5 : 1
            Layout.fillWidth: panel.compact
            Layout.preferredWidth: Math.min(240, panel.width * 0.35)
            implicitHeight: 36
            padding: 10
            placeholderText: Lang.searchPlaceholder
            maximumLength: 50
            onTextChanged: panel.logic.search(text)
        }
        IconButton {
            id: refreshButton
            objectName: "refreshButton"
            Layout.row: 0
            Layout.column: panel.compact ? 4 : 5
            source: "qrc:/icons/refresh.svg"
            tip: ""
            spinning: panel.logic.vlansLoading
            onClicked: panel.logic.refresh()
        }
    }

    // Column titles
    RowLayout {
        id: columns
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: listHeader.bottom
        anchors.topMargin: Theme.spacingSmall
        anchors.leftMargin: Theme.spacing + 12
        anchors.rightMargin: Theme.spacing + 12
        height: 24
        spacing: 12
        ColumnTitle {
            text: panel.compact ? Lang.username + " / " + Lang.gameColumn : Lang.username
            Layout.preferredWidth: 1
            Layout.fillWidth: true
        }
        ColumnTitle { text: Lang.gameColumn; Layout.preferredWidth: 1; Layout.fillWidth: true; visible: !panel.compact }
        ColumnTitle { text: Lang.capacity; Layout.preferredWidth: panel.compact ? 54 : 110 }
        Item { Layout.preferredWidth: panel.compact ? 64 : 84 }
    }
    Rectangle {
        anchors.top: columns.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: Theme.spacing
        anchors.rightMargin: Theme.spacing
        height: 1
        color: Theme.glassBorder
    }

    ListView {
        id: vlanList
        reuseItems: true
        anchors.top: columns.bottom
        anchors.topMargin: 4
        anchors.bottom: parent.bottom
        anchors.bottomMargin: Theme.spacingSmall
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: Theme.spacing
        anchors.rightMargin: Theme.spacing
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: panel.logic.publicVlansList
        visible: !(panel.logic.vlansLoading && panel.logic.publicVlansList.length === 0)
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
        delegate: VlanRow {
            compact: panel.compact
            listLoading: panel.logic.vlansLoading
        }
        footer: Item {
            width: ListView.view ? ListView.view.width : 0
            height: panel.logic.vlansLoading && panel.logic.publicVlansList.length > 0 ? 44 : 0
            BusySpinner {
                anchors.centerIn: parent
                width: 20
                height: 20
                visible: parent.height > 0
                color: Theme.accentLime
            }
        }
    }

    // Placeholder rows while the first page loads into an empty list
    Column {
        id: skeleton
        objectName: "skeleton"
        anchors.fill: vlanList
        visible: panel.logic.vlansLoading && panel.logic.publicVlansList.length === 0
        spacing: 0
        Repeater {
            model: 5
            Item {
                width: skeleton.width
                height: 50
                Rectangle {
                    anchors.fill: parent
                    anchors.topMargin: 6
                    anchors.bottomMargin: 6
                    radius: 8
                    color: Theme.glassBg
                    SequentialAnimation on opacity {
                        running: skeleton.visible
                        loops: Animation.Infinite
                        NumberAnimation { from: 1; to: 0.3; duration: 800 }
                        NumberAnimation { from: 0.3; to: 1; duration: 800 }
                    }
                }
            }
        }
    }

    Text {
        id: noResultsText
        objectName: "noResultsText"
        anchors.centerIn: vlanList
        visible: panel.logic.publicVlansTotal === 0 && !panel.logic.vlansLoading
        text: Lang.noResults
        textFormat: Text.PlainText
        color: Theme.textDimmed
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeBody
    }

    component ColumnTitle: Text {
        textFormat: Text.PlainText
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignLeft
        color: Theme.textDimmed
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeCaption
        font.bold: true
        font.letterSpacing: Lang.isPersian ? 0 : 0.6
    }
}
