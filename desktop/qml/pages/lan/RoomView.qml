import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../components"
import "../../theme"

// The open room: its name, the tunnel's state with the room's code, address and
// time, and its members, in join order or by name.
Item {
    id: room

    property var members: []
    property bool sortAlpha: false
    readonly property var shownMembers: sortAlpha ? sortedByName(members) : members
    // The badge's text while the tunnel is not (or no longer) ready.
    property string statusText: ""
    property bool reconnecting: false
    property string durationText: ""
    property string motdText: ""
    // The window asks whether to leave; meanwhile the room fades.
    property bool dimmed: false
    property var toast: null
    signal disconnectRequested()
    signal copyRequested(string text)

    readonly property string status: api.vpnStatus

    function sortedByName(users) {
        return users.slice().sort((a, b) => a.username.toLowerCase().localeCompare(b.username.toLowerCase()))
    }

    opacity: dimmed ? 0.4 : 1
    Behavior on opacity { NumberAnimation { duration: 300 } }

    Text {
        id: roomTitle
        objectName: "roomTitle"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        text: api.connectedVlanName !== "" ? api.connectedVlanName : Lang.lanConnection
        textFormat: Text.PlainText
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignLeft
        color: Theme.textWhite
        font.family: Lang.titleFont
        font.pixelSize: Theme.fontSizeTitle
        font.bold: true
    }

    GlassCard {
        id: statusCard
        anchors.top: roomTitle.bottom
        anchors.topMargin: Theme.spacing
        anchors.left: parent.left
        width: Math.min(420, parent.width * 0.42)
        height: statusColumn.implicitHeight + 2 * Theme.spacingLarge

        ColumnLayout {
            id: statusColumn
            anchors.fill: parent
            anchors.margins: Theme.spacingLarge
            spacing: 14

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacingSmall
                StatusBadge {
                    id: statusBadge
                    objectName: "statusBadge"
                    label: room.status !== "" && room.status !== "ready" ? room.statusText : Lang.connected
                    active: room.status === "ready" || room.status === ""
                    warning: room.reconnecting
                }
                Item { Layout.fillWidth: true }
                PrimaryButton {
                    id: leaveButton
                    objectName: "leaveButton"
                    implicitWidth: 130
                    implicitHeight: 34
                    text: room.reconnecting ? Lang.cancel : Lang.disconnect
                    buttonColor: Theme.errorColor
                    enabled: room.status !== "disconnecting"
                    onClicked: {
                        if (room.reconnecting)
                            api.disconnectVlan()
                        else
                            room.disconnectRequested()
                    }
                }
            }
            // Why the tunnel keeps failing while it retries.
            Text {
                id: reconnectError
                objectName: "reconnectError"
                Layout.fillWidth: true
                visible: room.reconnecting && api.vpnLastError !== ""
                text: api.vpnLastError
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 4
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignLeft
                color: Theme.textPrimary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeSmall
            }
            InfoRow {
                label: Lang.vlanId
                value: api.connectedVlanId
                mono: true
                copyTip: Lang.copyVlanId
                onCopyClicked: room.copyRequested(api.connectedVlanId)
            }
            InfoRow {
                id: ipRow
                objectName: "ipRow"
                visible: api.vpnIp !== "" && room.status === "ready"
                label: Lang.vpnIpLabel
                value: api.vpnIp
                mono: true
                copyTip: Lang.copyVpnIp
                onCopyClicked: room.copyRequested(api.vpnIp)
            }
            InfoRow {
                id: durationRow
                objectName: "durationRow"
                label: Lang.connectedFor
                value: room.durationText
                mono: !Lang.isPersian
            }
        }
    }

    GlassCard {
        id: membersCard
        anchors.top: roomTitle.bottom
        anchors.topMargin: Theme.spacing
        anchors.left: statusCard.right
        anchors.leftMargin: Theme.spacing
        anchors.right: parent.right
        anchors.bottom: connectedMotd.visible ? connectedMotd.top : parent.bottom
        anchors.bottomMargin: connectedMotd.visible ? Theme.spacing : 0

        RowLayout {
            id: membersHeader
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: Theme.spacing
            height: 34
            spacing: Theme.spacingSmall
            CardTitle {
                text: Lang.connectedPeers
            }
            CountBadge {
                count: room.members.length
                tone: Theme.accentLime
                fill: 0.16
                textColor: Theme.accentLime
            }
            Item { Layout.fillWidth: true }
            IconButton {
                id: sortButton
                objectName: "sortButton"
                source: "qrc:/icons/sort.svg"
                tip: room.sortAlpha ? Lang.sortJoinOrder : Lang.sortAlphabetical
                highlighted: room.sortAlpha
                onClicked: room.sortAlpha = !room.sortAlpha
            }
        }

        ListView {
            id: usersList
            objectName: "memberList"
            anchors.top: membersHeader.bottom
            anchors.topMargin: Theme.spacingSmall
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: Theme.spacingSmall
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: room.shownMembers
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
            delegate: MemberRow { toast: room.toast }
            // A wheel turn flicks the list, three times the wheel's step.
            MouseArea {
                anchors.fill: parent
                acceptedButtons: Qt.NoButton
                onWheel: wheel => {
                    usersList.flick(0, wheel.angleDelta.y * 3)
                    wheel.accepted = true
                }
            }
        }
        Text {
            id: aloneText
            objectName: "aloneText"
            anchors.centerIn: usersList
            visible: room.members.length <= 1
            text: Lang.isPersian ? "فقط شما اینجایید" : "Just you here"
            textFormat: Text.PlainText
            color: Theme.textDimmed
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
        }
    }

    MotdText {
        id: connectedMotd
        objectName: "connectedMotd"
        anchors.bottom: parent.bottom
        anchors.left: membersCard.left
        anchors.right: parent.right
        text: room.motdText
        visible: room.motdText !== ""
    }

    component InfoRow: RowLayout {
        id: info
        property string label: ""
        property string value: ""
        property bool mono: false
        property string copyTip: ""
        signal copyClicked()
        spacing: Theme.spacingSmall
        Layout.fillWidth: true
        Text {
            text: info.label + ":"
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
        }
        Text {
            Layout.fillWidth: true
            text: info.value
            textFormat: Text.PlainText
            elide: Text.ElideRight
            // Beside its label on the reading side; a code or an address still reads
            // left to right, as its own characters decide.
            horizontalAlignment: Text.AlignLeft
            color: Theme.textWhite
            font.family: info.mono ? Theme.monoFont : Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
        IconButton {
            visible: info.copyTip !== ""
            implicitWidth: 28
            implicitHeight: 28
            source: "qrc:/icons/copy.svg"
            tip: info.copyTip
            onClicked: info.copyClicked()
        }
    }
}
