import QtQuick
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects
import "../components"
import "../theme"

// Brand, version, the story so far and where to find us.
Item {
    id: page

    property var toast: null
    readonly property string version: "1.5.0"
    // The service's own channels.
    readonly property var channels: [
        { label: "Website", icon: "qrc:/icons/globe.svg", url: "https://corvana.gg" },
        { label: "Telegram", icon: "qrc:/icons/telegram.svg", url: "https://t.me/corvana" },
        { label: "Instagram", icon: "qrc:/icons/instagram.svg", url: "https://instagram.com/corvana.gg" },
        { label: "Discord", icon: "qrc:/icons/discord.svg", url: "https://discord.gg/corvana" }
    ]

    Flickable {
        id: scroller
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        contentHeight: column.implicitHeight + Theme.spacingLarge
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: column
            width: scroller.width
            spacing: Theme.spacing

            GlassCard {
                width: parent.width
                height: 200
                elevated: true
                Column {
                    anchors.centerIn: parent
                    spacing: 8
                    Image {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: 64
                        height: 64
                        sourceSize: Qt.size(128, 128)
                        source: "qrc:/icons/logo.svg"
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "Corvana"
                        color: Theme.textWhite
                        font.family: Lang.latinFont
                        font.pixelSize: 30
                        font.bold: true
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: Lang.appTagline
                        textFormat: Text.PlainText
                        color: Theme.textSecondary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                    }
                    Rectangle {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: versionText.implicitWidth + 20
                        height: 22
                        radius: 11
                        color: Qt.rgba(Theme.accentLime.r, Theme.accentLime.g, Theme.accentLime.b, 0.12)
                        border.color: Qt.rgba(Theme.accentLime.r, Theme.accentLime.g, Theme.accentLime.b, 0.3)
                        Text {
                            id: versionText
                            objectName: "versionChip"
                            anchors.centerIn: parent
                            text: "v" + page.version
                            color: Theme.accentLime
                            font.family: Theme.monoFont
                            font.pixelSize: Theme.fontSizeSmall
                            font.bold: true
                        }
                    }
                }
            }

            GlassCard {
                width: parent.width
                height: aboutColumn.implicitHeight + 40
                Column {
                    id: aboutColumn
                    x: 20
                    y: 20
                    width: parent.width - 40
                    spacing: 12
                    Text {
                        width: parent.width
                        text: Lang.aboutTitle
                        textFormat: Text.PlainText
                        color: Theme.textPrimary
                        font.family: Lang.titleFont
                        font.pixelSize: Theme.fontSizeHeading
                        font.bold: true
                        horizontalAlignment: Text.AlignLeft
                    }
                    Text {
                        id: aboutText
                        width: parent.width
                        text: Lang.aboutText
                        textFormat: Text.PlainText
                        color: Theme.textSecondary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                        lineHeight: 1.5
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignLeft
                    }
                    // What comes next: the same story, blurred, until it is told.
                    Item {
                        width: parent.width
                        height: blurredSource.implicitHeight
                        Text {
                            id: blurredSource
                            width: parent.width
                            text: Lang.aboutText
                            textFormat: Text.PlainText
                            color: Theme.textSecondary
                            font.family: Lang.bodyFont
                            font.pixelSize: Theme.fontSizeBody
                            lineHeight: 1.5
                            wrapMode: Text.Wrap
                            horizontalAlignment: Text.AlignLeft
                            visible: false
                        }
                        FastBlur {
                            anchors.fill: blurredSource
                            source: blurredSource
                            radius: 32
                        }
                        Text {
                            objectName: "comingSoon"
                            anchors.centerIn: parent
                            text: "— " + Lang.comingSoon + " —"
                            textFormat: Text.PlainText
                            color: Theme.textWhite
                            opacity: 0.7
                            font.family: Lang.titleFont
                            font.pixelSize: Theme.fontSizeHeading
                            font.bold: true
                        }
                    }
                }
            }

            GlassCard {
                width: parent.width
                height: 120
                Column {
                    x: 20
                    y: 20
                    width: parent.width - 40
                    spacing: 16
                    Text {
                        width: parent.width
                        text: Lang.connectWithUs
                        textFormat: Text.PlainText
                        color: Theme.textPrimary
                        font.family: Lang.titleFont
                        font.pixelSize: Theme.fontSizeHeading
                        font.bold: true
                        horizontalAlignment: Text.AlignLeft
                    }
                    Row {
                        anchors.left: parent.left
                        spacing: 12
                        Repeater {
                            model: page.channels
                            delegate: AboutSocialButton {
                                objectName: "social_" + modelData.label
                                iconSource: modelData.icon
                                label: modelData.label
                                onClicked: Qt.openUrlExternally(modelData.url)
                            }
                        }
                    }
                }
            }

            Text {
                width: parent.width
                topPadding: 4
                horizontalAlignment: Text.AlignHCenter
                text: Lang.isPersian ? "ساخته‌شده با ♥ برای بازی‌های شبکه‌ای — کوروانا " + "۱٫۵٫۰"
                                     : "Made with ♥ for LAN games — Corvana " + page.version
                textFormat: Text.PlainText
                color: Theme.textDimmed
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeSmall
            }
        }
    }
}
