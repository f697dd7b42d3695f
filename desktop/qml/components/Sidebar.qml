import QtQuick
import "../theme"

// The left navigation bar: page tabs in the middle, the user's avatar and settings at the bottom.
Rectangle {
    id: bar
    property int currentIndex: 1
    property string username: ""
    property bool hasUnreadAnnounce: false
    property bool vlanConnected: false
    property bool dedicatedConnected: false
    property alias lanTabItem: lanTab
    property alias aboutTabItem: aboutTab
    property alias settingsTabItem: settingsTab
    signal tabClicked(int index)
    signal settingsClicked()
    signal profileClicked()
    signal announceClicked()

    width: Theme.sidebarWidth
    color: "transparent"
    // The bar is window chrome: the same in both languages.
    LayoutMirroring.enabled: false
    LayoutMirroring.childrenInherit: true

    Rectangle {
        anchors.right: parent.right
        width: 1
        height: parent.height
        color: Theme.sidebarBorder
    }

    // Centred, but kept clear of the avatar and settings below when the window is short.
    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        y: Math.max(0, Math.min((parent.height - height) / 2, bottomColumn.y - height - 12))
        spacing: 6

        SidebarTabButton {
            iconSource: "qrc:/icons/wifi.svg"
            tooltip: Lang.wifiTabTooltip
            tabEnabled: false
            disabledTooltip: ""
        }
        SidebarTabButton {
            iconSource: "qrc:/icons/gamepad.svg"
            tooltip: Lang.gamesTab
            disabledTooltip: Lang.gamesTab
            active: bar.currentIndex === 0
            tabEnabled: !bar.vlanConnected
            onClicked: bar.tabClicked(0)
        }
        SidebarTabButton {
            id: lanTab
            iconSource: "qrc:/icons/network.svg"
            tooltip: Lang.lanTab
            active: bar.currentIndex === 1
            tabEnabled: !bar.dedicatedConnected
            onClicked: bar.tabClicked(1)
        }
        SidebarTabButton {
            iconSource: "qrc:/icons/info.svg"
            tooltip: Lang.announceTab
            active: bar.currentIndex === 5
            onClicked: bar.announceClicked()
            Rectangle {
                objectName: "unreadDot"
                visible: bar.hasUnreadAnnounce && bar.currentIndex !== 5
                width: 8
                height: 8
                radius: 4
                color: Theme.errorColor
                x: parent.width / 2 + 6
                y: parent.height / 2 - 12
            }
        }
        SidebarTabButton {
            id: aboutTab
            iconSource: "qrc:/icons/bolt.svg"
            tooltip: Lang.aboutTab
            active: bar.currentIndex === 2
            onClicked: bar.tabClicked(2)
        }
    }

    Column {
        id: bottomColumn
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 14
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 8

        Item {
            width: 56
            height: 40
            visible: bar.username.length > 0
            AvatarImage {
                anchors.centerIn: parent
                username: bar.username
                size: 30
            }
            MouseArea {
                id: avatarArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: bar.profileClicked()
            }
            AppToolTip {
                visible: avatarArea.containsMouse
                delay: 300
                x: parent.width + 4
                y: (parent.height - height) / 2
                text: bar.username
            }
        }
        SidebarTabButton {
            id: settingsTab
            iconSource: "qrc:/icons/settings.svg"
            tooltip: Lang.settingsTab
            active: bar.currentIndex === 3
            onClicked: bar.settingsClicked()
        }
    }
}
