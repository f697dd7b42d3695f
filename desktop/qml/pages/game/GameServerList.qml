import QtQuick
import "../../components"
import "../../theme"

// The servers of the chosen game, official or community, searched and sorted,
// each with its latency and a Join button.
Column {
    id: serversView
    required property GameServersLogic logic
    // The page's Flickable and its content: the rows in view are those the page shows.
    required property Flickable pageScroller
    required property Item pageContent
    visible: logic.showingServers
    width: parent.width
    spacing: 14

    Item {
        width: parent.width
        height: 44
        Text {
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            text: Lang.availableServers + (logic.serversLoading ? "" : "  " + Lang.number(logic.visibleServers.length) + " " + Lang.serversLabel)
            textFormat: Text.PlainText
            color: Theme.textPrimary
            font.family: Lang.titleFont
            font.pixelSize: Theme.fontSizeHeading
        }
        StyledTextField {
            id: searchField
            objectName: "serverSearch"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: 280
            maximumLength: 50
            placeholderText: Lang.searchServersPlaceholder
            text: logic.serverSearchQuery
            onTextChanged: logic.serverSearchQuery = text
        }
    }

    Row {
        anchors.left: parent.left
        spacing: 10
        Repeater {
            model: [
                { key: "official", label: Lang.officialServersTab, icon: "qrc:/icons/shield.svg" },
                { key: "community", label: Lang.communityServersTab, icon: "qrc:/icons/gamepad.svg" }
            ]
            delegate: Rectangle {
                readonly property bool current: logic.serverSourceTab === modelData.key
                width: tabRow.implicitWidth + 28
                height: 36
                radius: 18
                color: current ? Qt.rgba(0.76, 0.99, 0.02, 0.12) : Theme.glassBg
                border.color: current ? Theme.accentLime : Theme.glassBorder
                Row {
                    id: tabRow
                    anchors.centerIn: parent
                    spacing: 8
                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        source: modelData.icon
                        sourceSize: Qt.size(14, 14)
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: modelData.label + "  " + (logic.serversLoading ? "…"
                              : Lang.number(modelData.key === "official" ? logic.officialServers.length
                                                                         : logic.communityServers.length))
                        color: current ? Theme.accentLime : Theme.textSecondary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: logic.serverSourceTab = modelData.key
                }
            }
        }
    }

    GlassCard {
        width: parent.width
        height: serverTable.implicitHeight + 16
        Column {
            id: serverTable
            x: 16
            y: 8
            width: parent.width - 32

            Row {
                width: parent.width
                height: 40
                Repeater {
                    model: [
                        { key: "name", label: Lang.serverColumn, share: 0.26 },
                        { key: "map", label: Lang.mapColumn, share: 0.17 },
                        { key: "ping", label: Lang.pingColumn, share: 0.13 },
                        { key: "capacity", label: Lang.capacity, share: 0.18 },
                        { key: "", label: "", share: 0.26 }
                    ]
                    delegate: Item {
                        width: serverTable.width * modelData.share
                        height: 40
                        Text {
                            anchors.left: parent.left
                            anchors.verticalCenter: parent.verticalCenter
                            text: modelData.label + (logic.serverSortColumn !== "" && logic.serverSortColumn === modelData.key
                                                     ? (logic.serverSortDescending ? " ▾" : " ▴") : "")
                            color: logic.serverSortColumn === modelData.key && modelData.key !== "" ? Theme.accentLime : Theme.textSecondary
                            font.family: Lang.bodyFont
                            font.pixelSize: Theme.fontSizeCaption
                            font.bold: true
                            font.letterSpacing: Lang.isPersian ? 0 : 0.6
                        }
                        MouseArea {
                            anchors.fill: parent
                            enabled: modelData.key !== ""
                            cursorShape: Qt.PointingHandCursor
                            onClicked: logic.sortBy(modelData.key)
                        }
                    }
                }
            }
            Rectangle { width: parent.width; height: 1; color: Theme.glassBorder }

            Repeater {
                model: logic.serversLoading ? 5 : 0
                Rectangle {
                    width: serverTable.width
                    height: 52
                    color: "transparent"
                    Rectangle {
                        anchors.fill: parent
                        anchors.topMargin: 8
                        anchors.bottomMargin: 8
                        radius: 8
                        color: Theme.glassBg
                        OpacityAnimator on opacity { from: 0.3; to: 1; duration: 900; loops: Animation.Infinite; running: true }
                    }
                }
            }
            GameRowsInView {
                id: serverRows
                readonly property var rows: logic.serversLoading ? [] : logic.visibleServers
                readonly property int rowHeight: 56
                pageScroller: serversView.pageScroller
                pageContent: serversView.pageContent
                width: serverTable.width
                height: rows.length * rowHeight

                ListView {
                    id: serverList
                    objectName: "serverList"
                    y: serverRows.viewY
                    width: parent.width
                    height: serverRows.viewHeight
                    interactive: false
                    reuseItems: true
                    model: serverRows.rows
                    onYChanged: follow()
                    onCountChanged: follow()
                    onContentHeightChanged: follow()
                    function follow() { contentY = originY + y }
                    delegate: GameServerRow { logic: serversView.logic; width: serverTable.width }
                }
            }
            GameCaption {
                visible: !logic.serversLoading && logic.visibleServers.length === 0
                width: parent.width
                height: 64
                verticalAlignment: Text.AlignVCenter
                horizontalAlignment: Text.AlignHCenter
                text: Lang.noResults
                font.pixelSize: Theme.fontSizeBody
            }
        }
    }
}
