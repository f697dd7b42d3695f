import QtQuick
import QtTest
import "qrc:/qml/pages"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "GamePage"
    width: 1200
    height: 760

    StandInApi { id: standIn; baseUrl: "http://svc.test:8480" }
    property var realApi: null

    Component {
        id: pageComponent
        GamePage {
            width: testCase.width
            height: testCase.height
            tickMs: 20
            connectionStepMs: 20
            disconnectDelayMs: 20
        }
    }

    function initTestCase() {
        realApi = api
    }
    function init() {
        testHost.use("api", standIn)
        standIn.clearCalls()
        standIn.forwardPort = 0
        ping.asked = []
        Lang.current = "en"
    }
    function cleanup() {
        testHost.use("api", realApi)
        Lang.current = ""
        checkWarnings()
    }
    function newPage(visible) {
        return createTemporaryObject(pageComponent, testCase, { visible: visible === undefined ? true : visible })
    }

    // A page already past the games view, showing the servers of one game.
    function pageWithServers(servers) {
        const page = newPage()
        standIn.dedicatedGamesReceived([{ id: "g1", name: "Game One", server_count: 2 }])
        page.logic.openGame(page.logic.games[0])
        standIn.dedicatedGameServersReceived("g1", servers)
        return page
    }

    // A catalogue of 10,000 games: cards are made for those the page has in view
    // and follow its scrolling to the last one (the time is logged as a figure,
    // the bound only catches a freeze).
    function test_tenThousandGames() {
        const games = []
        for (let i = 0; i < 10000; ++i)
            games.push({ id: "g" + i, name: "Game " + i, server_count: 1 })
        const started = Date.now()
        const shown = newPage()
        standIn.dedicatedGamesReceived(games)
        waitForRendering(shown)
        const taken = Date.now() - started
        console.log("games: 10000 taken in " + taken + " ms")
        verify(findChild(shown, "gameCard_g0"))
        verify(!findChild(shown, "gameCard_g9999"), "a card out of view was made")
        const grid = findChild(shown, "gameGrid")
        verify(grid.contentItem.children.length < 100, grid.contentItem.children.length + " cards made")
        let flick = grid.parent
        while (flick && flick.contentY === undefined)
            flick = flick.parent
        flick.contentY = flick.contentHeight - flick.height
        waitForRendering(shown)
        tryVerify(() => findChild(shown, "gameCard_g9999") !== null, 5000)
        verify(grid.contentItem.children.length < 100, grid.contentItem.children.length + " cards made")
        verify(taken < freezeMs, "the page froze: " + taken + " ms")
    }

    // 80,000 servers: rows are made for those the page has in view and follow its
    // scrolling to the last one (the time is logged as a figure, the bound only
    // catches a freeze).
    function test_eightyThousandServers() {
        const servers = []
        for (let i = 0; i < 80000; ++i)
            servers.push({ id: "s" + i, name: "Server " + i, address: "10.0." + (i >> 8 & 255) + "." + (i & 255),
                           port: 27015, players: 1, capacity: 10, source: "official" })
        const started = Date.now()
        const shown = pageWithServers(servers)
        waitForRendering(shown)
        const taken = Date.now() - started
        console.log("servers: 80000 taken in " + taken + " ms")
        const list = findChild(shown, "serverList")
        verify(list.contentItem.children.length > 0 && list.contentItem.children.length < 100,
               list.contentItem.children.length + " rows made")
        verify(findChild(shown, "serverRow_s0"))
        let flick = list.parent
        while (flick && flick.contentY === undefined)
            flick = flick.parent
        flick.contentY = flick.contentHeight - flick.height
        waitForRendering(shown)
        tryVerify(() => findChild(shown, "serverRow_s79999") !== null, 5000)
        verify(list.contentItem.children.length < 100, list.contentItem.children.length + " rows made")
        verify(taken < freezeMs, "the page froze: " + taken + " ms")
    }
}
