import QtQuick
import QtQuick.Controls.Basic
import Qt.labs.settings
import "../components"
import "../theme"
import "../components/TextDirection.js" as TextDirection

// The service's announcements, newest first, with what the player has read
// kept across runs; a new one pops up once while the page is not open.
Item {
    id: page

    property var toast: null
    property var overlay: null
    property var announcements: []
    // Reals, not ints: an id past 2^31 would wrap in an int and never compare as read.
    property real lastReadId: readStore.lastReadId
    property real lastNotifiedId: 0
    property int pollIntervalMs: 60000
    // Set by the window while something above the pop-up (the tour) holds the screen:
    // a new announcement waits and pops up once it is released.
    property bool held: false
    readonly property bool hasUnread: announcements.length > 0 && announcements[0].id > lastReadId

    Settings {
        id: readStore
        category: "announcements"
        property real lastReadId: 0
    }

    // Titles and bodies in Hebrew read right to left here too.
    function isRtlText(text) {
        return TextDirection.isRtlText(text, true)
    }

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function normalize(items) {
        const list = []
        if (!items || typeof items !== "object" || items.length === undefined)
            return list
        for (let i = 0; i < items.length; ++i) {
            const item = items[i]
            if (item === null || typeof item !== "object")
                continue
            const id = Number(item.id)
            list.push({ id: isFinite(id) ? id : 0, title: textOf(item.title), body: textOf(item.body),
                        link_url: textOf(item.link_url), link_text: textOf(item.link_text),
                        created_at: textOf(item.created_at) })
        }
        return list
    }

    // Only web links open from an announcement; other schemes stay inert.
    function isWebLink(url) {
        return /^https?:\/\//i.test(url)
    }

    function timeText(stamp) {
        const when = new Date(stamp)
        if (stamp === "" || isNaN(when.getTime()))
            return ""
        return Lang.dateTime(when)
    }

    function markRead() {
        if (announcements.length === 0)
            return
        lastReadId = announcements[0].id
        readStore.lastReadId = lastReadId
    }

    function notifyIfNew() {
        if (announcements.length === 0 || visible || !overlay || held)
            return
        const newest = announcements[0]
        if (newest.id > lastReadId && newest.id > lastNotifiedId) {
            lastNotifiedId = newest.id
            overlay.show(newest.title, newest.body, newest.id)
        }
    }

    onVisibleChanged: {
        if (!visible)
            return
        api.fetchAnnouncements()
        markRead()
    }
    onHeldChanged: if (!held) notifyIfNew()

    // The service is asked only while signed in: a call without a session
    // would end in the "session expired" road on the login page.
    Timer {
        interval: page.pollIntervalMs
        repeat: true
        running: api.loggedIn
        onTriggered: api.fetchAnnouncements()
    }

    Connections {
        target: api
        function onAnnouncementsReceived(items) {
            page.announcements = page.normalize(items)
            page.notifyIfNew()
            if (page.visible)
                page.markRead()
        }
    }

    // Cards are made for what is in view only: a reply of thousands costs no more to show than a page.
    ListView {
        id: scroller
        objectName: "announcementList"
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        spacing: Theme.spacing
        reuseItems: true
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
        model: page.announcements

        header: Column {
            width: scroller.width
            spacing: Theme.spacing
            bottomPadding: page.announcements.length > 0 ? Theme.spacing : 0

            Text {
                width: parent.width
                text: Lang.announceTitle
                textFormat: Text.PlainText
                color: Theme.textWhite
                font.family: Lang.titleFont
                font.pixelSize: Theme.fontSizeTitle
                font.bold: true
                horizontalAlignment: Text.AlignLeft
                bottomPadding: 8
            }

            Text {
                objectName: "noAnnouncements"
                visible: page.announcements.length === 0
                width: parent.width
                topPadding: 60
                horizontalAlignment: Text.AlignHCenter
                text: Lang.noAnnouncements
                textFormat: Text.PlainText
                color: Theme.textSecondary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
            }
        }
        footer: Item { width: scroller.width; height: Theme.spacingLarge }

        delegate: GlassCard {
            id: card
            required property var modelData
            readonly property bool unread: modelData.id > page.lastReadId
            readonly property bool titleRtl: page.isRtlText(modelData.title)
            readonly property bool bodyRtl: page.isRtlText(modelData.body)
            objectName: "announcement_" + modelData.id
            width: scroller.width
            height: cardColumn.implicitHeight + 40
            elevated: unread

            Column {
                id: cardColumn
                x: 20
                y: 20
                width: parent.width - 40
                spacing: 10
                // A card reads in its own script's direction, whatever the window's language.
                LayoutMirroring.enabled: false
                LayoutMirroring.childrenInherit: true

                Row {
                    width: parent.width
                    spacing: 10
                    layoutDirection: card.titleRtl ? Qt.RightToLeft : Qt.LeftToRight
                    Rectangle {
                        objectName: "unreadDot"
                        visible: card.unread
                        anchors.verticalCenter: parent.verticalCenter
                        width: 8
                        height: 8
                        radius: 4
                        color: Theme.accentLime
                    }
                    Text {
                        width: parent.width - (card.unread ? 18 : 0)
                        text: modelData.title
                        textFormat: Text.PlainText
                        color: Theme.textWhite
                        font.family: card.titleRtl ? Lang.persianFont : Lang.latinFont
                        font.pixelSize: 16
                        font.bold: true
                        wrapMode: Text.Wrap
                        horizontalAlignment: card.titleRtl ? Text.AlignRight : Text.AlignLeft
                    }
                }
                Text {
                    width: parent.width
                    visible: text !== ""
                    text: modelData.body
                    textFormat: Text.PlainText
                    color: Theme.textPrimary
                    font.family: card.bodyRtl ? Lang.persianFont : Lang.latinFont
                    font.pixelSize: Theme.fontSizeBody
                    lineHeight: 1.4
                    wrapMode: Text.Wrap
                    horizontalAlignment: card.bodyRtl ? Text.AlignRight : Text.AlignLeft
                }
                Item {
                    width: parent.width
                    height: 34
                    LayoutMirroring.enabled: card.bodyRtl
                    LayoutMirroring.childrenInherit: true
                    PrimaryButton {
                        objectName: "linkButton"
                        anchors.left: parent.left
                        visible: page.isWebLink(modelData.link_url)
                        width: Math.min(parent.width / 2, Math.max(120, implicitContentWidth + 40))
                        height: 34
                        text: modelData.link_text !== "" ? modelData.link_text : Lang.openLink
                        onClicked: Qt.openUrlExternally(modelData.link_url)
                    }
                    Text {
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        text: page.timeText(modelData.created_at)
                        textFormat: Text.PlainText
                        color: Theme.textDimmed
                        font.family: Lang.latinFont
                        font.pixelSize: Theme.fontSizeSmall
                    }
                }
            }
        }
    }
}
