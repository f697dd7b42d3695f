import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/pages"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "AnnouncePage"
    width: 1000
    height: 700

    StandInApi { id: standIn; loggedIn: true }
    property var realApi: null

    // Records what the page asks of its pop-up.
    QtObject {
        id: overlaySpy
        property var shown: []
        function show(title, body, id) { shown = shown.concat([{ title: title, body: body, id: id }]) }
    }

    Component {
        id: pageComponent
        AnnouncePage { anchors.fill: parent; overlay: overlaySpy; pollIntervalMs: 50 }
    }

    function initTestCase() {
        realApi = api
    }
    function init() {
        testHost.clearSettings()
        testHost.use("api", standIn)
        standIn.clearCalls()
        overlaySpy.shown = []
    }
    function cleanup() {
        testHost.use("api", realApi)
        checkWarnings()
    }
    function items(ids) {
        return ids.map(id => ({ id: id, title: "News " + id, body: "Body " + id, created_at: "2026-12-01T10:00:00Z" }))
    }

    function test_rightToLeftDetection() {
        const page = createTemporaryObject(pageComponent, testCase, { visible: false })
        verify(page.isRtlText("12 سلام"))
        verify(!page.isRtlText("2026 News"))
        verify(!page.isRtlText(""))
        verify(!page.isRtlText("1234 !!!"))
        verify(page.isRtlText("שלום"))
        // Only the first 20 characters count; digits decide nothing, so the letter after them does.
        verify(page.isRtlText("1".repeat(19) + "سلام"))
        verify(!page.isRtlText("1".repeat(20) + "سلام"))
        verify(page.isRtlText("ﻻ"))
        verify(!page.isRtlText(null))
    }

    function test_popUpRulesAndReadTracking() {
        const page = createTemporaryObject(pageComponent, testCase, { visible: false })
        compare(page.lastReadId, 0)
        standIn.announcementsReceived(items([2, 1]))
        verify(page.hasUnread)
        compare(overlaySpy.shown.length, 1)
        compare(overlaySpy.shown[0].id, 2)
        compare(overlaySpy.shown[0].title, "News 2")

        // The same newest item pops up once per run.
        standIn.announcementsReceived(items([2, 1]))
        compare(overlaySpy.shown.length, 1)
        standIn.announcementsReceived(items([3, 2, 1]))
        compare(overlaySpy.shown.length, 2)

        // Opening the page marks everything read at once and asks for news.
        page.visible = true
        compare(page.lastReadId, 3)
        verify(!page.hasUnread)
        verify(standIn.callsTo("fetchAnnouncements").length >= 1)
        tryVerify(() => testHost.setting("announcements/lastReadId") == 3, 5000)

        // While it is open, a new one is read on arrival and never pops up.
        standIn.announcementsReceived(items([4, 3]))
        compare(page.lastReadId, 4)
        compare(overlaySpy.shown.length, 2)

        // Hidden again: older or equal ids stay quiet.
        page.visible = false
        standIn.announcementsReceived(items([4, 3]))
        compare(overlaySpy.shown.length, 2)
        standIn.announcementsReceived([])
        verify(!page.hasUnread)
    }

    // Held by the window (the tour), news waits; released, the newest unread pops
    // up once, and not at all when the page has been opened meanwhile.
    function test_popUpWaitsWhileHeld() {
        const page = createTemporaryObject(pageComponent, testCase, { visible: false, held: true })
        standIn.announcementsReceived(items([2, 1]))
        standIn.announcementsReceived(items([3, 2, 1]))
        compare(overlaySpy.shown.length, 0)
        page.held = false
        compare(overlaySpy.shown.map(s => s.id), [3])
        page.held = true
        page.held = false
        compare(overlaySpy.shown.length, 1, "once per run")

        page.held = true
        standIn.announcementsReceived(items([4, 3]))
        page.visible = true
        page.held = false
        page.visible = false
        page.held = true
        page.held = false
        compare(overlaySpy.shown.length, 1, "read on the page, it never pops up")
    }

    // Ids past 2^31 keep their value: the pop-up comes once however often the
    // list is fetched, and the read marker stored is the id itself.
    function test_idsPastTwoToThe31() {
        const newest = 2147483653
        let page = createTemporaryObject(pageComponent, testCase, { visible: false })
        standIn.announcementsReceived(items([newest, newest - 1]))
        standIn.announcementsReceived(items([newest, newest - 1]))
        compare(overlaySpy.shown.map(s => s.id), [newest])
        page.visible = true
        compare(page.lastReadId, newest)
        tryVerify(() => Number(testHost.setting("announcements/lastReadId")) === newest, 5000)
        page.destroy()
        page = createTemporaryObject(pageComponent, testCase, { visible: false })
        standIn.announcementsReceived(items([newest]))
        verify(!page.hasUnread)
        compare(overlaySpy.shown.length, 1)
    }

    // 20,000 announcements: cards are made for those in view only, in a moment
    // (the time is logged as a figure, the bound only catches a freeze).
    function test_twentyThousandAnnouncements() {
        const page = createTemporaryObject(pageComponent, testCase, { visible: true })
        const ids = []
        for (let i = 20000; i > 0; --i)
            ids.push(i)
        const list = items(ids)
        const started = Date.now()
        standIn.announcementsReceived(list)
        waitForRendering(page)
        const taken = Date.now() - started
        console.log("announcements: 20000 taken in " + taken + " ms")
        verify(findChild(page, "announcement_20000"))
        const cards = findChild(page, "announcementList").contentItem.children.length
        verify(cards > 0 && cards < 100, cards + " cards made")
        verify(taken < freezeMs, "the page froze: " + taken + " ms")
    }

    function test_readStateSurvivesARestart() {
        let page = createTemporaryObject(pageComponent, testCase, { visible: false })
        standIn.announcementsReceived(items([7]))
        page.visible = true
        compare(page.lastReadId, 7)
        page.destroy()
        tryVerify(() => testHost.setting("announcements/lastReadId") == 7, 5000)
        overlaySpy.shown = []

        // A new run: read state comes back, the unread marks too, and only
        // what is newer than it pops up.
        page = createTemporaryObject(pageComponent, testCase, { visible: false })
        compare(page.lastReadId, 7)
        standIn.announcementsReceived(items([7, 6]))
        verify(!page.hasUnread)
        compare(overlaySpy.shown.length, 0)
        standIn.announcementsReceived(items([8, 7]))
        verify(page.hasUnread)
        compare(overlaySpy.shown.length, 1)
        verify(findChild(page, "announcement_8").unread)
        page.visible = true
        verify(!findChild(page, "announcement_8").unread)
    }

    function test_pollsOnlyWhileSignedIn() {
        createTemporaryObject(pageComponent, testCase, { visible: false })
        tryVerify(() => standIn.callsTo("fetchAnnouncements").length >= 2, 5000)
        standIn.loggedIn = false
        standIn.clearCalls()
        wait(200)
        compare(standIn.callsTo("fetchAnnouncements").length, 0)
        standIn.loggedIn = true
    }

    function test_oddRecordsAndLinks() {
        const page = createTemporaryObject(pageComponent, testCase)
        const longBody = "x".repeat(10000)
        standIn.announcementsReceived([
            { id: "12", title: "<b>bold</b>", body: longBody, link_url: "javascript:alert(1)", created_at: "not a date" },
            null,
            { id: 11, title: "خبر", body: "متن", link_url: "https://example.org", link_text: "More" }])
        compare(page.announcements.length, 2)
        compare(page.announcements[0].id, 12)
        compare(page.timeText("not a date"), "")
        verify(page.timeText("2026-12-01T10:00:00Z").indexOf(":") > 0)
        verify(!page.isWebLink("javascript:alert(1)"))
        verify(page.isWebLink("https://example.org"))
        const first = findChild(page, "announcement_12")
        verify(first)
        compare(findChild(first, "linkButton").visible, false)
        compare(findChild(findChild(page, "announcement_11"), "linkButton").text, "More")
        compare(findChild(page, "noAnnouncements").visible, false)
    }

    // The pop-up itself, with its sound.
    Component {
        id: overlayComponent
        AnnounceOverlay { anchors.fill: parent }
    }

    function test_popUpShowsAndHides() {
        const overlay = createTemporaryObject(overlayComponent, testCase)
        const opened = createTemporaryObject(spyComponent, testCase, { target: overlay, signalName: "openAnnouncements" })
        const dismissed = createTemporaryObject(spyComponent, testCase, { target: overlay, signalName: "dismissed" })
        const soundsBefore = logger.soundsPlayed
        overlay.show("New maps", "one\ntwo\nthree\nfour\nfive\nsix", 5)
        verify(overlay.visible)
        compare(logger.soundsPlayed, soundsBefore + 1)
        const body = findChild(overlay, "announceBody")
        tryVerify(() => body.truncated, 2000)
        compare(body.lineCount, 4)

        // A second show replaces the texts and sounds again.
        overlay.show("سلام دوستان", "متن فارسی", 6)
        compare(overlay.announceId, 6)
        verify(overlay.titleRtl)
        compare(logger.soundsPlayed, soundsBefore + 2)
        compare(findChild(overlay, "announceTitle").font.family, Lang.persianFont)

        mouseClick(findChild(overlay, "readMoreButton"))
        compare(opened.count, 1)
        tryCompare(overlay, "visible", false, 2000)
        compare(dismissed.count, 1)

        overlay.show("Later", "", 7)
        mouseClick(findChild(overlay, "laterButton"))
        tryCompare(overlay, "visible", false, 2000)
        compare(opened.count, 1)
        compare(dismissed.count, 2)

        // A click on the dimmed area outside the card hides it too.
        overlay.show("Outside", "", 8)
        wait(300)
        mouseClick(overlay, 5, 5)
        tryCompare(overlay, "visible", false, 2000)
        compare(dismissed.count, 3)
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }
}
