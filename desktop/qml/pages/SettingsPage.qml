import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../components"
import "../theme"

// Language, Discord presence and logout.
Item {
    id: page
    property var settings: null
    property var toast: null
    signal languageChanged(string lang)
    signal logoutClicked()

    Flickable {
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        Column {
            id: column
            width: parent.width
            spacing: Theme.spacing

            Column {
                width: parent.width
                spacing: 4
                bottomPadding: 8
                Text {
                    width: parent.width
                    text: Lang.settingsTitle
                    textFormat: Text.PlainText
                    color: Theme.textWhite
                    font.family: Lang.titleFont
                    font.pixelSize: Theme.fontSizeTitle
                    font.bold: true
                    horizontalAlignment: Text.AlignLeft
                }
            }

            SettingCard {
                title: Lang.languageSetting
                description: Lang.languageDesc
                Row {
                    spacing: 6
                    LanguageToggle { objectName: "englishToggle"; label: "English"; code: "en"; family: Lang.latinFont }
                    LanguageToggle { objectName: "persianToggle"; label: "فارسی"; code: "fa"; family: Lang.persianFont }
                }
            }

            SettingCard {
                title: Lang.discordPresence
                description: Lang.discordPresenceDesc
                Switch {
                    id: discordSwitch
                    objectName: "discordSwitch"
                    checked: page.settings ? page.settings.discordPresence : true
                    LayoutMirroring.enabled: false
                    onToggled: {
                        if (page.settings)
                            page.settings.discordPresence = checked
                        api.setDiscordEnabled(checked)
                    }
                    indicator: Rectangle {
                        implicitWidth: 44
                        implicitHeight: 24
                        radius: 12
                        color: discordSwitch.checked ? Theme.primaryPurple : Theme.glassHover
                        border.width: 1
                        border.color: Theme.glassBorder
                        Rectangle {
                            width: 18
                            height: 18
                            radius: 9
                            y: 3
                            x: discordSwitch.checked ? parent.width - width - 3 : 3
                            color: discordSwitch.checked ? Theme.accentLime : Theme.textSecondary
                            Behavior on x { NumberAnimation { duration: 120 } }
                        }
                    }
                }
            }

            SettingCard {
                title: Lang.logoutSection
                description: Lang.logoutDesc
                PrimaryButton {
                    objectName: "logoutButton"
                    width: 130
                    text: Lang.logoutTab
                    buttonColor: Theme.errorColor
                    onClicked: page.logoutClicked()
                }
            }
        }
    }

    component SettingCard: GlassCard {
        id: card
        property string title
        property string description
        default property alias control: slot.data
        width: parent ? parent.width : 0
        height: 84
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 20
            anchors.rightMargin: 20
            spacing: 16
            Column {
                Layout.fillWidth: true
                spacing: 4
                Text {
                    width: parent.width
                    text: card.title
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: Theme.textPrimary
                    font.family: Lang.bodyFont
                    font.pixelSize: 15
                    font.bold: true
                    horizontalAlignment: Text.AlignLeft
                }
                Text {
                    width: parent.width
                    text: card.description
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: Theme.textSecondary
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    horizontalAlignment: Text.AlignLeft
                }
            }
            Item {
                id: slot
                Layout.preferredWidth: childrenRect.width
                Layout.preferredHeight: childrenRect.height
                Layout.alignment: Qt.AlignVCenter
            }
        }
    }

    component LanguageToggle: Rectangle {
        id: toggle
        property string label
        property string code
        property string family
        readonly property bool current: (Lang.isPersian ? "fa" : "en") === code
        width: 96
        height: 36
        radius: 10
        color: current ? Theme.primaryPurple : (area.containsMouse ? Theme.glassHover : Theme.glassBg)
        border.width: 1
        border.color: current ? Theme.primaryPurple : Theme.glassBorder
        Text {
            anchors.centerIn: parent
            text: toggle.label
            textFormat: Text.PlainText
            color: toggle.current ? Theme.textWhite : Theme.textSecondary
            font.family: toggle.family
            font.pixelSize: Theme.fontSizeBody
            font.bold: toggle.current
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: toggle.current ? Qt.ArrowCursor : Qt.PointingHandCursor
            onClicked: if (!toggle.current) page.languageChanged(toggle.code)
        }
    }
}
