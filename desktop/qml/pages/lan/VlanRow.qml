import QtQuick
import QtQuick.Layouts
import "../../components"
import "../../theme"

// One public room: owner, game, players of capacity, Join.
Item {
    id: row
    required property var modelData
    required property int index
    // A narrow list: the game goes under the owner, the capacity bar goes.
    property bool compact: false
    property bool listLoading: false
    readonly property bool full: modelData.players >= modelData.capacity
    width: ListView.view ? ListView.view.width : 0
    height: 50

    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 3
        anchors.bottomMargin: 3
        radius: 8
        color: rowHover.hovered ? Theme.glassHover : "transparent"
    }
    HoverHandler { id: rowHover }

    GridLayout {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        columnSpacing: 12
        rowSpacing: 0
        Text {
            objectName: "rowOwner" + row.index
            Layout.row: 0
            Layout.column: 0
            Layout.alignment: row.compact ? Qt.AlignLeft | Qt.AlignBottom : Qt.AlignLeft | Qt.AlignVCenter
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            text: row.modelData.username
            textFormat: Text.PlainText
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignLeft
            color: Theme.textPrimary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
        // Under the owner in a narrow list.
        Text {
            objectName: "rowGame" + row.index
            Layout.row: row.compact ? 1 : 0
            Layout.column: row.compact ? 0 : 1
            Layout.alignment: row.compact ? Qt.AlignLeft | Qt.AlignTop : Qt.AlignLeft | Qt.AlignVCenter
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            text: row.modelData.gameName
            textFormat: Text.PlainText
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignLeft
            color: Theme.textSecondary
            font.family: Lang.bodyFont
            font.pixelSize: row.compact ? Theme.fontSizeSmall : Theme.fontSizeBody
        }
        Row {
            Layout.row: 0
            Layout.column: row.compact ? 1 : 2
            Layout.rowSpan: row.compact ? 2 : 1
            Layout.preferredWidth: row.compact ? 54 : 110
            spacing: 8
            Text {
                objectName: "rowPlayers" + row.index
                // A fixed width lines the bars up under each other.
                width: 54
                elide: Text.ElideRight
                anchors.verticalCenter: parent.verticalCenter
                text: Lang.number(row.modelData.players + "/" + row.modelData.capacity)
                textFormat: Text.PlainText
                // Set, not left to the digits: only a set alignment follows the mirroring,
                // so the figures share their edge with the column's title in Persian too.
                horizontalAlignment: Text.AlignLeft
                color: row.full ? Theme.errorColor : Theme.accentLime
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
                font.bold: true
            }
            Rectangle {
                visible: !row.compact
                anchors.verticalCenter: parent.verticalCenter
                width: 40
                height: 4
                radius: 2
                color: Theme.glassHover
                Rectangle {
                    anchors.left: parent.left
                    height: parent.height
                    radius: 2
                    width: parent.width * (row.modelData.capacity > 0
                                           ? Math.min(1, row.modelData.players / row.modelData.capacity) : 1)
                    color: row.full ? Theme.errorColor : Theme.accentLime
                }
            }
        }
        PrimaryButton {
            objectName: "rowJoin" + row.index
            Layout.row: 0
            Layout.column: row.compact ? 2 : 3
            Layout.rowSpan: row.compact ? 2 : 1
            Layout.preferredWidth: row.compact ? 64 : 84
            implicitHeight: 32
            text: Lang.joinBtn
            loading: api.busy
            enabled: (!row.full || api.isAdmin) && !row.listLoading && !api.busy
            onClicked: api.joinVlan(row.modelData.id)
        }
    }
}
