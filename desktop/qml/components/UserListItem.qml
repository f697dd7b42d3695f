import QtQuick
import QtQuick.Layouts
import "../theme"

// One member row: avatar, name, owner/staff pills and the member's address.
Item {
    id: item
    property string username: ""
    property string assignedIp: ""
    property bool isOwner: false
    property bool isAdmin: false
    signal ipCopied(string ip)

    implicitHeight: 52

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        spacing: 10

        AvatarImage { username: item.username; size: 36 }

        Text {
            Layout.maximumWidth: item.width * 0.45
            text: item.username
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: Theme.textPrimary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
        Pill { visible: item.isOwner; text: Lang.ownerBadge; tone: Theme.accentLime }
        Pill { visible: item.isAdmin; text: Lang.adminBadge; tone: "#b3a0ff" }
        // Keeps the address chip at the far side whether or not pills are shown.
        Item { Layout.fillWidth: true }

        Rectangle {
            visible: item.assignedIp.length > 0
            implicitWidth: ipText.implicitWidth + 20
            implicitHeight: 26
            radius: 8
            color: ipArea.containsMouse ? Theme.glassHover : Theme.glassBg
            border.width: 1
            border.color: Theme.glassBorder
            Text {
                id: ipText
                anchors.centerIn: parent
                text: item.assignedIp
                textFormat: Text.PlainText
                color: Theme.textSecondary
                font.family: Theme.monoFont
                font.pixelSize: Theme.fontSizeSmall
            }
            MouseArea {
                id: ipArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    api.copyToClipboard(item.assignedIp)
                    item.ipCopied(item.assignedIp)
                }
            }
        }
    }

    component Pill: Rectangle {
        property alias text: label.text
        property color tone: Theme.accentLime
        implicitWidth: label.implicitWidth + 14
        implicitHeight: 20
        radius: 10
        color: Qt.rgba(tone.r, tone.g, tone.b, 0.14)
        border.width: 1
        border.color: Qt.rgba(tone.r, tone.g, tone.b, 0.35)
        Text {
            id: label
            anchors.centerIn: parent
            textFormat: Text.PlainText
            color: parent.tone
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeCaption
            font.bold: true
            font.letterSpacing: Lang.isPersian ? 0 : 0.6
        }
    }
}
