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
        page.openGame(page.games[0])
        standIn.dedicatedGameServersReceived("g1", servers)
        return page
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

    function test_gameRecordsInEverySpelling() {
        const page = newPage(false)
        let g = page.normalizeGame({ game_name: "Only Name", servers: 3 })
        compare(g.name, "Only Name")
        compare(g.id, "")
        compare(g.serverCount, 3)
        compare(g.availableServers, 3)
        compare(page.gameStatus(g), "active")

        // Blank values fall through to the next key; "else" keys win when present at all.
        g = page.normalizeGame({ id: 0, game_id: "g2", name: "", short_name: null, tag: "T2",
                                 server_count: null, servers: 5, available_servers: 0, status: "FULL" })
        compare(g.id, "g2")
        compare(g.name, "g2")
        compare(g.shortName, "T2")
        compare(g.serverCount, 0)
        compare(g.availableServers, 0)
        compare(g.status, "full")
        compare(g.accent, String(Theme.accentLime))

        compare(page.normalizeGame({ accent: "not a colour" }).accent, String(Theme.accentLime))
        g = page.normalizeGame({ slug: "s", accent_color: "#123456", description: null })
        compare(g.id, "s")
        compare(g.shortName, "s")
        compare(g.accent, "#123456")
        compare(g.description, "")
        compare(g.players, "0")

        // Records that are not objects at all still give a usable card.
        compare(page.normalizeGame(null).name, "")
        compare(page.normalizeGame("junk").servers, "0")
        compare(page.normalizeList("not a list", page.normalizeGame).length, 0)
    }

    function test_countsAndImages() {
        const page = newPage(false)
        compare(page.countText(1250), "1.3K")
        compare(page.countText(999), "999")
        compare(page.countText(2500000), "2.5M")
        compare(page.countText(2000), "2.0K")
        compare(page.countText(1000000), "1.0M")
        compare(page.countText(null), "0")
        compare(page.countText(""), "0")
        compare(page.countText(undefined), "0")
        compare(page.countText("lots"), "lots")
        compare(page.countText("1500"), "1.5K")
        compare(page.normalizeGame({ player_count: 1250, players: 5 }).players, "1.3K")
        compare(page.normalizeGame({ players: 7 }).players, "7")

        compare(page.imageUrl(""), "")
        compare(page.imageUrl(null), "")
        compare(page.imageUrl("/static/a.png"), "http://svc.test:8480/static/a.png")
        compare(page.imageUrl("https://cdn.example/a.png"), "https://cdn.example/a.png")
        compare(page.imageUrl("qrc:/icons/game-cs2.png"), "qrc:/icons/game-cs2.png")
        compare(page.imageUrl("file:///tmp/a.png"), "")
        compare(page.imageUrl("relative.png"), "")
        compare(page.normalizeGame({ image: "", picture_url: "/p.png" }).image, "http://svc.test:8480/p.png")
    }

    function test_steamAppIds() {
        const page = newPage(false)
        compare(page.normalizeGame({ name: "Dota 2" }).steamAppId, 570)
        compare(page.normalizeGame({ id: "x", short_name: "CS2" }).steamAppId, 730)
        compare(page.normalizeGame({ name: "Counter Strike 1.6" }).steamAppId, 730)
        compare(page.normalizeGame({ shortName: "csgo", name: "Old" }).steamAppId, 730)
        compare(page.normalizeGame({ name: "Dota 2", appid: 440 }).steamAppId, 440)
        compare(page.normalizeGame({ name: "Dota 2", steam_app_id: "12" }).steamAppId, 12)
        compare(page.normalizeGame({ name: "Chess", app_id: -5 }).steamAppId, 0)
        compare(page.normalizeGame({ name: "Chess" }).steamAppId, 0)
    }

    function test_serverRecords() {
        const page = newPage(false)
        let s = page.normalizeServer({ server_id: 7, server_name: "Seven", map_name: "dunes", type: "casual",
                                       player_count: 3, max_players: 12, ip: "127.0.0.4", query_port: 27016,
                                       appid: 730, steam_link: "steam://connect/x", source: "COMMUNITY",
                                       owner_name: "kian", region: "north" })
        compare(s.id, "7")
        compare(s.name, "Seven")
        compare(s.map, "dunes")
        compare(s.mode, "casual")
        compare(s.players, 3)
        compare(s.capacity, 12)
        compare(s.address, "127.0.0.4")
        compare(s.port, 27016)
        compare(s.steamAppId, 730)
        compare(s.steamUrl, "steam://connect/x")
        compare(s.source, "community")
        compare(s.ownerName, "kian")
        compare(s.region, "north")
        compare(s.ping, -1)

        // Missing, null, negative and string-typed numbers.
        s = page.normalizeServer({ name: "Odd", map: null, players: "4", capacity: "ten", port: "x", source: "partner" })
        compare(s.id, "Odd")
        compare(s.map, "default")
        compare(s.players, 4)
        compare(s.capacity, 0)
        compare(s.port, 0)
        compare(s.source, "official")
        s = page.normalizeServer({ players: -3, player_count: 9, capacity: null, max_players: 8 })
        compare(s.players, 0)
        compare(s.capacity, 8)
        compare(s.address, "")
        compare(s.source, "official")
    }

    function test_gameStatus() {
        const page = newPage(false)
        compare(page.gameStatus(null), "unavailable")
        compare(page.gameStatus(page.normalizeGame({ status: "Disabled", server_count: 4 })), "unavailable")
        compare(page.gameStatus(page.normalizeGame({ status: "unavailable", server_count: 4 })), "unavailable")
        compare(page.gameStatus(page.normalizeGame({ status: "full", server_count: 4 })), "full")
        compare(page.gameStatus(page.normalizeGame({ server_count: 4, available_server_count: 0 })), "full")
        compare(page.gameStatus(page.normalizeGame({ server_count: -1 })), "full")
        compare(page.gameStatus(page.normalizeGame({ status: "weird", server_count: 2 })), "active")

        // A click on an unavailable game does nothing.
        const shown = newPage()
        shown.openGame(shown.normalizeGame({ id: "gone", status: "disabled", server_count: 3 }))
        compare(shown.selectedGame, null)
        compare(standIn.callsTo("fetchDedicatedGameServers").length, 0)
    }

    function test_connectCodeAndLinks() {
        const page = newPage(false)
        const server = fields => page.normalizeServer(fields)
        compare(page.connectCommandFor(null, 0), "")
        compare(page.connectCommandFor(null, 50123), "")
        compare(page.connectCommandFor(server({ address: "1.2.3.4", port: 27016 }), 50123), "connect 127.0.0.1:50123")
        compare(page.connectCommandFor(server({ address: "1.2.3.4", port: 27016 }), 0), "connect 1.2.3.4:27016")
        compare(page.connectCommandFor(server({ address: "1.2.3.4" }), 0), "connect 1.2.3.4:27015")
        compare(page.connectCommandFor(server({ address: "1.2.3.4:9000", port: 27016 }), 0), "connect 1.2.3.4:9000")
        compare(page.connectCommandFor(server({ port: 28000 }), 0), "connect 127.0.0.1:28000")
        compare(page.connectCommandFor(server({}), -1), "connect 127.0.0.1:27015")
        compare(page.endpointOf(null), "127.0.0.1:27015")

        compare(page.remoteAddressOf(server({ address: "5.6.7.8", steam_url: "steam://connect/1.1.1.1" })), "5.6.7.8")
        compare(page.remoteAddressOf(server({ steam_url: "steam://connect/1.2.3.4:27015/pw" })), "1.2.3.4:27015")
        compare(page.remoteAddressOf(server({ steam_url: "steam://connect/1.2.3.4:27015?x=1" })), "1.2.3.4:27015")
        compare(page.remoteAddressOf(server({ deep_link: "steam://run/730//+connect%201.2.3.4%3A27016?a" })), "1.2.3.4:27016")
        compare(page.remoteAddressOf(server({ steam_url: "steam://run/730//+connect%20%E0%A4%A" })), "%E0%A4%A")
        compare(page.remoteAddressOf(server({ steam_url: "https://example.org" })), "")
        compare(page.remoteAddressOf(null), "")

        const dota = page.normalizeGame({ name: "Dota 2" })
        const chess = page.normalizeGame({ name: "Chess" })
        compare(page.launchUrlFor(server({}), dota), "steam://run/570")
        compare(page.launchUrlFor(server({ steam_app_id: 42 }), dota), "steam://run/42")
        compare(page.launchUrlFor(server({}), chess), "steam://open/games")
        compare(page.launchUrlFor(null, null), "steam://open/games")
    }

    function test_serverMatching() {
        const page = newPage(false)
        const s = fields => page.normalizeServer(fields)
        verify(page.sameServer(s({ id: 1, name: "A" }), s({ id: 1, name: "B" })))
        verify(page.sameServer(s({ address: "1.1.1.1", port: 5 }), s({ address: "1.1.1.1", port: 5 })))
        verify(!page.sameServer(s({ address: "1.1.1.1", port: 5 }), s({ address: "1.1.1.1", port: 6 })))
        verify(page.sameServer(s({ address: "1.1.1.1:27015" }), s({ address: "1.1.1.1", port: 27015 })))
        verify(page.sameServer(s({ name: "Same", id: "" }), s({ name: "Same" })))
        verify(!page.sameServer(s({ id: 1, address: "1.1.1.1", port: 1 }), s({ id: 2, address: "2.2.2.2", port: 1 })))
        verify(!page.sameServer(null, s({ id: 1 })))
    }

    function test_filterAndSort() {
        const page = newPage(false)
        const list = [
            { id: "a", name: "bravo", map: "Zeta", mode: "", ping: -1, players: 2, region: "", ownerName: "", source: "official" },
            { id: "b", name: "Alpha", map: "eta", mode: "casual", ping: 80, players: 9, region: "north", ownerName: "", source: "official" },
            { id: "c", name: "charlie", map: "beta", mode: "", ping: 12, players: 0, region: "", ownerName: "mahsa", source: "official" },
            { id: "d", name: "delta", map: "x", mode: "", ping: 30, players: 1, region: "", ownerName: "", source: "community" }
        ]
        const ids = l => l.map(s => s.id).join("")
        compare(ids(page.filterServers(list, "official", "")), "abc")
        compare(ids(page.filterServers(list, "community", "")), "d")
        compare(ids(page.filterServers(list, "official", "  NORTH ")), "b")
        compare(ids(page.filterServers(list, "official", "mahsa")), "c")
        compare(ids(page.filterServers(list, "official", "80")), "b")
        compare(ids(page.sortServers(list, "", false)), "abcd")
        compare(ids(page.sortServers(list, "name", false)), "bacd")
        compare(ids(page.sortServers(list, "map", true)), "adbc")
        compare(ids(page.sortServers(list, "capacity", false)), "cdab")
        // Unmeasured servers stay last in both directions.
        compare(ids(page.sortServers(list, "ping", false)), "cdba")
        compare(ids(page.sortServers(list, "ping", true)), "bdca")

        page.sortBy("ping")
        compare(page.serverSortColumn, "ping")
        verify(!page.serverSortDescending)
        page.sortBy("ping")
        verify(page.serverSortDescending)
        page.sortBy("map")
        compare(page.serverSortColumn, "map")
        verify(!page.serverSortDescending)
    }

    function test_gamesLoadWhenShownAndRefresh() {
        const page = newPage(false)
        compare(standIn.callsTo("fetchDedicatedGames").length, 0)
        page.visible = true
        compare(standIn.callsTo("fetchDedicatedGames").length, 1)
        compare(standIn.callsTo("fetchMotd").length, 1)
        verify(page.loading)
        standIn.motdReceived("Hello <b>all</b>")
        standIn.dedicatedGamesReceived([{ id: "g1", name: "One", server_count: 1 }, { game_name: "Two" }])
        verify(!page.loading)
        verify(page.hasLoaded)
        compare(page.games.length, 2)
        compare(page.motdText, "Hello <b>all</b>")

        // Shown again: nothing is fetched anew, the message of the day is kept.
        page.visible = false
        page.visible = true
        compare(standIn.callsTo("fetchDedicatedGames").length, 1)
        compare(standIn.callsTo("fetchMotd").length, 1)

        // The countdown fetches again without the skeleton, and not while a fetch runs.
        page.gamesRefreshSeconds = 3
        page.gamesRefreshCountdown = 3
        tryVerify(() => standIn.callsTo("fetchDedicatedGames").length === 2, 5000)
        verify(!page.loading)
        verify(page.gamesRefreshing)
        wait(150)
        compare(standIn.callsTo("fetchDedicatedGames").length, 2)

        // An error while visible ends every loading state; the list stays.
        standIn.requestError("boom")
        verify(!page.gamesRefreshing)
        compare(page.games.length, 2)
    }

    function test_serverListFollowsItsGame() {
        const page = newPage()
        standIn.dedicatedGamesReceived([{ id: "mc", name: "Blocks", server_count: 2 }])
        page.openGame(page.games[0])
        compare(standIn.callsTo("fetchDedicatedGameServers")[0].args[0], "mc")
        verify(page.serversLoading)
        verify(page.showingServers)

        // Another game's reply is ignored.
        standIn.dedicatedGameServersReceived("other", [{ id: 1, address: "127.0.0.2", source: "official" }])
        compare(page.gameServers.length, 0)

        // Only community servers: the first reply switches the tab, later ones do not.
        standIn.dedicatedGameServersReceived("mc", [
            { id: 1, name: "One", address: "127.0.0.2", port: 1, source: "community", capacity: 4 },
            { id: 2, name: "Two", steam_url: "steam://connect/127.0.0.3:5", source: "community" }])
        verify(!page.serversLoading)
        compare(page.serverSourceTab, "community")
        compare(ping.asked, ["127.0.0.2"])
        page.serverSourceTab = "official"
        standIn.dedicatedGameServersReceived("mc", [{ id: 1, address: "127.0.0.2", source: "community" }])
        compare(page.serverSourceTab, "official")

        // Latency reaches every server on that address; a failure leaves it unmeasured.
        standIn.dedicatedGameServersReceived("mc", [
            { id: 1, name: "One", address: "127.0.0.2", port: 1, source: "community" },
            { id: 2, name: "Two", address: "127.0.0.2", port: 2, source: "community" },
            { id: 3, name: "Three", address: "127.0.0.9", port: 2, source: "community" }])
        ping.pingMeasured("127.0.0.2", 23)
        ping.pingFailed("127.0.0.9")
        tryVerify(() => page.gameServers.map(s => s.ping).join() === "23,23,-1", 5000)

        // Back: the game, its list, search, sort and tab are gone.
        page.serverSearchQuery = "x"
        page.sortBy("map")
        page.leaveServers()
        compare(page.selectedGame, null)
        compare(page.gameServers.length, 0)
        compare(page.serverSearchQuery, "")
        compare(page.serverSortColumn, "")
        compare(page.serverSourceTab, "official")
    }

    function test_connectingAndClosing() {
        const page = pageWithServers([
            { id: "s1", name: "First", address: "127.0.0.2", port: 27015, players: 1, capacity: 4, source: "official" },
            { id: "s2", name: "Linked", steam_url: "steam://connect/127.0.0.7:27017/pw", players: 0, capacity: 4, source: "official" }])

        // A forward that does not open leaves the servers view as it was.
        standIn.forwardPort = 0
        page.join(page.gameServers[1])
        compare(standIn.callsTo("startDedicatedUdpForward")[0].args, ["127.0.0.7:27017", 0])
        verify(!page.connectingToServer)
        verify(page.showingServers)

        standIn.forwardPort = 50123
        page.join(page.gameServers[0])
        compare(standIn.callsTo("startDedicatedUdpForward")[1].args, ["127.0.0.2", 27015])
        verify(page.connectingToServer)
        compare(page.dedicatedForwardPort, 50123)
        compare(page.pendingServer.id, "s1")
        tryCompare(page, "showingConnection", true, 5000)
        verify(!page.connectingToServer)
        compare(page.connectionStep, 3)
        verify(page.connectionReady)
        compare(page.connectCommand, "connect 127.0.0.1:50123")
        compare(page.pendingServer, null)

        // The selected server follows its fresh record across refreshes.
        standIn.dedicatedGameServersReceived("g1", [
            { id: "s1", name: "First (renamed)", address: "127.0.0.2", port: 27015, players: 3, capacity: 4, source: "official" }])
        compare(page.selectedServer.name, "First (renamed)")
        ping.pingMeasured("127.0.0.2", 55)
        tryVerify(() => page.selectedServer.ping === 55, 5000)

        page.copyCommand()
        compare(standIn.callsTo("copyToClipboard")[0].args[0], "connect 127.0.0.1:50123")
        verify(page.linkCopied)
        tryCompare(page, "linkCopied", false, 5000)

        page.closeConnection()
        compare(standIn.callsTo("stopDedicatedUdpForward").length, 1)
        verify(!page.showingConnection)

        // A forward that ends elsewhere (a logout) closes the connection view too.
        page.join(page.gameServers[0])
        tryCompare(page, "showingConnection", true, 5000)
        standIn.dedicatedUdpForwardStopped()
        verify(!page.showingConnection)
        verify(!page.connectingToServer)
        compare(page.dedicatedForwardPort, 0)
        verify(!page.showingConnection)
        verify(page.showingServers)
        compare(page.dedicatedForwardPort, 0)
        compare(page.selectedGame.id, "g1")
    }

    function test_errorsEndEveryLoadingState() {
        const page = pageWithServers([])
        page.fetchServers(true)
        verify(page.serversLoading)
        standIn.requestError("no")
        verify(!page.serversLoading)
        verify(!page.serversRefreshing)

        // Not while the page is hidden.
        page.fetchServers(true)
        page.visible = false
        standIn.requestError("no")
        verify(page.serversLoading)
    }

    function test_realServiceCatalogue() {
        testHost.use("api", realApi)
        const signedIn = signalSpy(realApi, "loginSuccess")
        realApi.login("demo", "demo1234")
        signedIn.wait(10000)
        const page = newPage()
        tryCompare(page, "hasLoaded", true, 10000)
        const byId = {}
        page.games.forEach(g => byId[g.id] = g)
        compare(byId["cs2"].players, "1.3K")
        compare(byId["cs2"].steamAppId, 730)
        compare(byId["cs2"].image, realApi.baseUrl + "/static/dedicated/cs2.png")
        compare(page.gameStatus(byId["dota2"]), "full")
        compare(byId["dota2"].players, "2.5M")
        compare(page.gameStatus(byId["retro-arena"]), "unavailable")
        compare(byId["mc java"].players, "37")
        tryCompare(page, "motdText", "Welcome back, demo", 10000)

        page.openGame(byId["mc java"])
        tryCompare(page, "serversLoading", false, 10000)
        compare(page.serverSourceTab, "community")
        compare(page.gameServers.length, 2)
        realApi.logout()
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }
    function signalSpy(target, signalName) {
        return createTemporaryObject(spyComponent, testCase, { target: target, signalName: signalName })
    }
}
