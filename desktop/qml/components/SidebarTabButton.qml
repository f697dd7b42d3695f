import QtQuick
import "../theme"

// One icon tab of the sidebar.
Item {
    id: tab
    property url iconSource
    property string tooltip: ""
    property bool active: false
    property bool tabEnabled: true
    property string disabledTooltip: ""
    signal clicked()

    width: 56
    height: 44

    Rectangle {
        anchors.centerIn: parent
        width: 40
        height: 40
        radius: 10
        color: tab.active ? Theme.sidebarHover : (area.containsMouse && tab.tabEnabled ? Theme.sidebarHover : "transparent")
    }
    Rectangle {
        visible: tab.active
        x: 0
        anchors.verticalCenter: parent.verticalCenter
        width: 3
        height: 20
        radius: 1.5
        color: Theme.accentLime
    }
    Image {
        anchors.centerIn: parent
        width: 20
        height: 20
        sourceSize: Qt.size(40, 40)
        source: tab.iconSource
        opacity: !tab.tabEnabled ? 0.25 : (tab.active ? 1 : (area.containsMouse ? 0.85 : 0.55))
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: tab.tabEnabled ? Qt.PointingHandCursor : Qt.ForbiddenCursor
        onClicked: if (tab.tabEnabled) tab.clicked()
    }
    AppToolTip {
        visible: area.containsMouse
        delay: 500
        x: parent.width + 4
        y: (parent.height - height) / 2
        text: tab.tabEnabled ? tab.tooltip
                             : (tab.disabledTooltip.length > 0 ? tab.disabledTooltip : tab.tooltip + " " + Lang.comingSoon)
    }
}
