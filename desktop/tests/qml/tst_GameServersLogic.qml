import QtQuick
import QtTest
import "qrc:/qml/pages/game"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "GameServersLogic"
    width: 1200
    height: 760

    StandInApi { id: standIn; baseUrl: "http://svc.test:8480" }
    property var realApi: null

    Component {
        id: logicComponent
        GameServersLogic {
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
        ping.kept = []
        Lang.current = "en"
    }
    function cleanup() {
        testHost.use("api", realApi)
        Lang.current = ""
        checkWarnings()
    }
    function newLogic(shown) {
        return createTemporaryObject(logicComponent, testCase, { shown: shown === undefined ? true : shown })
    }

    // Logic already past the games view, holding the servers of one game.
    function logicWithServers(servers) {
        const logic = newLogic()
        standIn.dedicatedGamesReceived([{ id: "g1", name: "Game One", server_count: 2 }])
        logic.openGame(logic.games[0])
        standIn.dedicatedGameServersReceived("g1", servers)
        return logic
    }

    function test_gameRecordsInEverySpelling() {
        const logic = newLogic(false)
        let g = logic.normalizeGame({ game_name: "Only Name", servers: 3 })
        compare(g.name, "Only Name")
        compare(g.id, "")
        compare(g.serverCount, 3)
        compare(g.availableServers, 3)
        compare(logic.gameStatus(g), "active")

        // Blank values fall through to the next key; "else" keys win when present at all.
        g = logic.normalizeGame({ id: 0, game_id: "g2", name: "", short_name: null, tag: "T2",
                                 server_count: null, servers: 5, available_servers: 0, status: "FULL" })
        compare(g.id, "g2")
        compare(g.name, "g2")
        compare(g.shortName, "T2")
        compare(g.serverCount, 0)
        compare(g.availableServers, 0)
        compare(g.status, "full")
        compare(g.accent, String(Theme.accentLime))

        compare(logic.normalizeGame({ accent: "not a colour" }).accent, String(Theme.accentLime))
        g = logic.normalizeGame({ slug: "s", accent_color: "#123456", description: null })
        compare(g.id, "s")
        compare(g.shortName, "s")
        compare(g.accent, "#123456")
        compare(g.description, "")
        compare(g.players, "0")

        // Records that are not objects at all still give a usable card.
        compare(logic.normalizeGame(null).name, "")
        compare(logic.normalizeGame("junk").servers, "0")
        compare(logic.normalizeList("not a list", logic.normalizeGame).length, 0)
    }

    function test_countsAndImages() {
        const logic = newLogic(false)
        compare(logic.countText(1250), "1.3K")
        compare(logic.countText(999), "999")
        compare(logic.countText(2500000), "2.5M")
        compare(logic.countText(2000), "2.0K")
        compare(logic.countText(1000000), "1.0M")
        compare(logic.countText(null), "0")
        compare(logic.countText(""), "0")
        compare(logic.countText(undefined), "0")
        compare(logic.countText("lots"), "lots")
        compare(logic.countText("1500"), "1.5K")
        compare(logic.normalizeGame({ player_count: 1250, players: 5 }).players, "1.3K")
        compare(logic.normalizeGame({ players: 7 }).players, "7")

        compare(logic.imageUrl(""), "")
        compare(logic.imageUrl(null), "")
        compare(logic.imageUrl("/static/a.png"), "http://svc.test:8480/static/a.png")
        compare(logic.imageUrl("https://cdn.example/a.png"), "https://cdn.example/a.png")
        compare(logic.imageUrl("qrc:/icons/game-cs2.png"), "qrc:/icons/game-cs2.png")
        compare(logic.imageUrl("file:///tmp/a.png"), "")
        compare(logic.imageUrl("relative.png"), "")
        compare(logic.normalizeGame({ image: "", picture_url: "/p.png" }).image, "http://svc.test:8480/p.png")
    }

    function test_steamAppIds() {
        const logic = newLogic(false)
        compare(logic.normalizeGame({ name: "Dota 2" }).steamAppId, 570)
        compare(logic.normalizeGame({ id: "x", short_name: "CS2" }).steamAppId, 730)
        compare(logic.normalizeGame({ name: "Counter Strike 1.6" }).steamAppId, 730)
        compare(logic.normalizeGame({ shortName: "csgo", name: "Old" }).steamAppId, 730)
        compare(logic.normalizeGame({ name: "Dota 2", appid: 440 }).steamAppId, 440)
        compare(logic.normalizeGame({ name: "Dota 2", steam_app_id: "12" }).steamAppId, 12)
        compare(logic.normalizeGame({ name: "Chess", app_id: -5 }).steamAppId, 0)
        compare(logic.normalizeGame({ name: "Chess" }).steamAppId, 0)
    }

    function test_serverRecords() {
        const logic = newLogic(false)
        let s = logic.normalizeServer({ server_id: 7, server_name: "Seven", map_name: "dunes", type: "casual",
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
        s = logic.normalizeServer({ name: "Odd", map: null, players: "4", capacity: "ten", port: "x", source: "partner" })
        compare(s.id, "Odd")
        compare(s.map, "default")
        compare(s.players, 4)
        compare(s.capacity, 0)
        compare(s.port, 0)
        compare(s.source, "official")
        s = logic.normalizeServer({ players: -3, player_count: 9, capacity: null, max_players: 8 })
        compare(s.players, 0)
        compare(s.capacity, 8)
        compare(s.address, "")
        compare(s.source, "official")
    }

    function test_gameStatus() {
        const logic = newLogic(false)
        compare(logic.gameStatus(null), "unavailable")
        compare(logic.gameStatus(logic.normalizeGame({ status: "Disabled", server_count: 4 })), "unavailable")
        compare(logic.gameStatus(logic.normalizeGame({ status: "unavailable", server_count: 4 })), "unavailable")
        compare(logic.gameStatus(logic.normalizeGame({ status: "full", server_count: 4 })), "full")
        compare(logic.gameStatus(logic.normalizeGame({ server_count: 4, available_server_count: 0 })), "full")
        compare(logic.gameStatus(logic.normalizeGame({ server_count: -1 })), "full")
        compare(logic.gameStatus(logic.normalizeGame({ status: "weird", server_count: 2 })), "active")

        // A click on an unavailable game does nothing.
        const inView = newLogic()
        inView.openGame(inView.normalizeGame({ id: "gone", status: "disabled", server_count: 3 }))
        compare(inView.selectedGame, null)
        compare(standIn.callsTo("fetchDedicatedGameServers").length, 0)
    }

    function test_connectCodeAndLinks() {
        const logic = newLogic(false)
        const server = fields => logic.normalizeServer(fields)
        compare(logic.connectCommandFor(null, 0), "")
        compare(logic.connectCommandFor(null, 50123), "")
        compare(logic.connectCommandFor(server({ address: "1.2.3.4", port: 27016 }), 50123), "connect 127.0.0.1:50123")
        compare(logic.connectCommandFor(server({ address: "1.2.3.4", port: 27016 }), 0), "connect 1.2.3.4:27016")
        compare(logic.connectCommandFor(server({ address: "1.2.3.4" }), 0), "connect 1.2.3.4:27015")
        compare(logic.connectCommandFor(server({ address: "1.2.3.4:9000", port: 27016 }), 0), "connect 1.2.3.4:9000")
        compare(logic.connectCommandFor(server({ port: 28000 }), 0), "connect 127.0.0.1:28000")
        compare(logic.connectCommandFor(server({}), -1), "connect 127.0.0.1:27015")
        compare(logic.endpointOf(null), "127.0.0.1:27015")

        compare(logic.remoteAddressOf(server({ address: "5.6.7.8", steam_url: "steam://connect/1.1.1.1" })), "5.6.7.8")
        compare(logic.remoteAddressOf(server({ steam_url: "steam://connect/1.2.3.4:27015/pw" })), "1.2.3.4:27015")
        compare(logic.remoteAddressOf(server({ steam_url: "steam://connect/1.2.3.4:27015?x=1" })), "1.2.3.4:27015")
        compare(logic.remoteAddressOf(server({ deep_link: "steam://run/730//+connect%201.2.3.4%3A27016?a" })), "1.2.3.4:27016")
        compare(logic.remoteAddressOf(server({ steam_url: "steam://run/730//+connect%20%E0%A4%A" })), "%E0%A4%A")
        compare(logic.remoteAddressOf(server({ steam_url: "https://example.org" })), "")
        compare(logic.remoteAddressOf(null), "")

        const dota = logic.normalizeGame({ name: "Dota 2" })
        const chess = logic.normalizeGame({ name: "Chess" })
        compare(logic.launchUrlFor(server({}), dota), "steam://run/570")
        compare(logic.launchUrlFor(server({ steam_app_id: 42 }), dota), "steam://run/42")
        compare(logic.launchUrlFor(server({}), chess), "steam://open/games")
        compare(logic.launchUrlFor(null, null), "steam://open/games")
    }

    function test_serverMatching() {
        const logic = newLogic(false)
        const s = fields => logic.normalizeServer(fields)
        verify(logic.sameServer(s({ id: 1, name: "A" }), s({ id: 1, name: "B" })))
        verify(logic.sameServer(s({ address: "1.1.1.1", port: 5 }), s({ address: "1.1.1.1", port: 5 })))
        verify(!logic.sameServer(s({ address: "1.1.1.1", port: 5 }), s({ address: "1.1.1.1", port: 6 })))
        verify(logic.sameServer(s({ address: "1.1.1.1:27015" }), s({ address: "1.1.1.1", port: 27015 })))
        verify(logic.sameServer(s({ name: "Same", id: "" }), s({ name: "Same" })))
        verify(!logic.sameServer(s({ id: 1, address: "1.1.1.1", port: 1 }), s({ id: 2, address: "2.2.2.2", port: 1 })))
        verify(!logic.sameServer(null, s({ id: 1 })))
    }

    function test_filterAndSort() {
        const logic = newLogic(false)
        const list = [
            { id: "a", name: "bravo", map: "Zeta", mode: "", ping: -1, players: 2, region: "", ownerName: "", source: "official" },
            { id: "b", name: "Alpha", map: "eta", mode: "casual", ping: 80, players: 9, region: "north", ownerName: "", source: "official" },
            { id: "c", name: "charlie", map: "beta", mode: "", ping: 12, players: 0, region: "", ownerName: "mahsa", source: "official" },
            { id: "d", name: "delta", map: "x", mode: "", ping: 30, players: 1, region: "", ownerName: "", source: "community" }
        ]
        const ids = l => l.map(s => s.id).join("")
        compare(ids(logic.filterServers(list, "official", "")), "abc")
        compare(ids(logic.filterServers(list, "community", "")), "d")
        compare(ids(logic.filterServers(list, "official", "  NORTH ")), "b")
        compare(ids(logic.filterServers(list, "official", "mahsa")), "c")
        compare(ids(logic.filterServers(list, "official", "80")), "b")
        compare(ids(logic.sortServers(list, "", false)), "abcd")
        compare(ids(logic.sortServers(list, "name", false)), "bacd")
        compare(ids(logic.sortServers(list, "map", true)), "adbc")
        compare(ids(logic.sortServers(list, "capacity", false)), "cdab")
        // Unmeasured servers stay last in both directions.
        compare(ids(logic.sortServers(list, "ping", false)), "cdba")
        compare(ids(logic.sortServers(list, "ping", true)), "bdca")

        logic.sortBy("ping")
        compare(logic.serverSortColumn, "ping")
        verify(!logic.serverSortDescending)
        logic.sortBy("ping")
        verify(logic.serverSortDescending)
        logic.sortBy("map")
        compare(logic.serverSortColumn, "map")
        verify(!logic.serverSortDescending)
    }

    function test_gamesLoadWhenShownAndRefresh() {
        const logic = newLogic(false)
        compare(standIn.callsTo("fetchDedicatedGames").length, 0)
        logic.shown = true
        compare(standIn.callsTo("fetchDedicatedGames").length, 1)
        compare(standIn.callsTo("fetchMotd").length, 1)
        verify(logic.loading)
        standIn.motdReceived("Hello <b>all</b>")
        standIn.dedicatedGamesReceived([{ id: "g1", name: "One", server_count: 1 }, { game_name: "Two" }])
        verify(!logic.loading)
        verify(logic.hasLoaded)
        compare(logic.games.length, 2)
        compare(logic.motdText, "Hello <b>all</b>")

        // Shown again: nothing is fetched anew, the message of the day is kept.
        logic.shown = false
        logic.shown = true
        compare(standIn.callsTo("fetchDedicatedGames").length, 1)
        compare(standIn.callsTo("fetchMotd").length, 1)

        // The countdown fetches again without the skeleton, and not while a fetch runs.
        logic.gamesRefreshSeconds = 3
        logic.gamesRefreshCountdown = 3
        tryVerify(() => standIn.callsTo("fetchDedicatedGames").length === 2, 5000)
        verify(!logic.loading)
        verify(logic.gamesRefreshing)
        wait(150)
        compare(standIn.callsTo("fetchDedicatedGames").length, 2)

        // An error while visible ends every loading state; the list stays.
        standIn.requestError("boom")
        verify(!logic.gamesRefreshing)
        compare(logic.games.length, 2)
    }

    function test_serverListFollowsItsGame() {
        const logic = newLogic()
        standIn.dedicatedGamesReceived([{ id: "mc", name: "Blocks", server_count: 2 }])
        logic.openGame(logic.games[0])
        compare(standIn.callsTo("fetchDedicatedGameServers")[0].args[0], "mc")
        verify(logic.serversLoading)
        verify(logic.showingServers)

        // Another game's reply is ignored.
        standIn.dedicatedGameServersReceived("other", [{ id: 1, address: "127.0.0.2", source: "official" }])
        compare(logic.gameServers.length, 0)

        // Only community servers: the first reply switches the tab, later ones do not.
        standIn.dedicatedGameServersReceived("mc", [
            { id: 1, name: "One", address: "127.0.0.2", port: 1, source: "community", capacity: 4 },
            { id: 2, name: "Two", steam_url: "steam://connect/127.0.0.3:5", source: "community" }])
        verify(!logic.serversLoading)
        compare(logic.serverSourceTab, "community")
        compare(ping.asked, ["127.0.0.2"])
        logic.serverSourceTab = "official"
        standIn.dedicatedGameServersReceived("mc", [{ id: 1, address: "127.0.0.2", source: "community" }])
        compare(logic.serverSourceTab, "official")

        // Latency reaches every server on that address; a failure leaves it unmeasured.
        standIn.dedicatedGameServersReceived("mc", [
            { id: 1, name: "One", address: "127.0.0.2", port: 1, source: "community" },
            { id: 2, name: "Two", address: "127.0.0.2", port: 2, source: "community" },
            { id: 3, name: "Three", address: "127.0.0.9", port: 2, source: "community" }])
        ping.pingMeasured("127.0.0.2", 23)
        ping.pingFailed("127.0.0.9")
        tryVerify(() => logic.gameServers.map(s => s.ping).join() === "23,23,-1", 5000)

        // Back: the game, its list, search, sort and tab are gone.
        logic.serverSearchQuery = "x"
        logic.sortBy("map")
        logic.leaveServers()
        compare(logic.selectedGame, null)
        compare(logic.gameServers.length, 0)
        compare(logic.serverSearchQuery, "")
        compare(logic.serverSortColumn, "")
        compare(logic.serverSourceTab, "official")
    }

    // The pinger's queue follows the list in view: after each change it keeps
    // only the hosts listed now (none once the list is out of sight) and is
    // asked for those.
    function test_pingsFollowTheListInView_data() {
        return [
            { tag: "another game", action: "open", kept: [] },
            { tag: "a new list", action: "new list", kept: ["10.0.0.2", "10.0.0.3"] },
            { tag: "back to the games", action: "back", kept: [] },
            { tag: "page hidden", action: "hide", kept: [] },
            { tag: "a list while hidden", action: "list while hidden", kept: [] },
            { tag: "page shown again", action: "hide and show", kept: ["10.0.0.1", "10.0.0.2"] }
        ]
    }
    function test_pingsFollowTheListInView(data) {
        const logic = newLogic()
        standIn.dedicatedGamesReceived([{ id: "g1", name: "One", server_count: 3 }, { id: "g2", name: "Two", server_count: 1 }])
        logic.openGame(logic.games[0])
        standIn.dedicatedGameServersReceived("g1", [
            { id: 1, address: "10.0.0.1", source: "official" },
            { id: 2, address: "10.0.0.2", source: "official" },
            { id: 3, steam_url: "steam://connect/", source: "official" }])
        compare(ping.kept[ping.kept.length - 1], ["10.0.0.1", "10.0.0.2"])
        ping.asked = []
        ping.kept = []
        if (data.action === "open") {
            logic.openGame(logic.games[1])
        } else if (data.action === "new list") {
            standIn.dedicatedGameServersReceived("g1", [{ id: 2, address: "10.0.0.2", source: "official" },
                                                        { id: 4, address: "10.0.0.3", source: "official" }])
        } else if (data.action === "back") {
            logic.leaveServers()
        } else {
            logic.shown = false
            if (data.action === "list while hidden")
                standIn.dedicatedGameServersReceived("g1", [{ id: 4, address: "10.0.0.3", source: "official" }])
            if (data.action === "hide and show")
                logic.shown = true
        }
        compare(ping.kept[ping.kept.length - 1], data.kept)
        compare(ping.asked, data.kept)
    }

    function test_connectingAndClosing() {
        const logic = logicWithServers([
            { id: "s1", name: "First", address: "127.0.0.2", port: 27015, players: 1, capacity: 4, source: "official" },
            { id: "s2", name: "Linked", steam_url: "steam://connect/127.0.0.7:27017/pw", players: 0, capacity: 4, source: "official" }])

        // A forward that does not open leaves the servers view as it was.
        standIn.forwardPort = 0
        logic.join(logic.gameServers[1])
        compare(standIn.callsTo("startDedicatedUdpForward")[0].args, ["127.0.0.7:27017", 0])
        verify(!logic.connectingToServer)
        verify(logic.showingServers)

        standIn.forwardPort = 50123
        logic.join(logic.gameServers[0])
        compare(standIn.callsTo("startDedicatedUdpForward")[1].args, ["127.0.0.2", 27015])
        verify(logic.connectingToServer)
        compare(logic.dedicatedForwardPort, 50123)
        compare(logic.pendingServer.id, "s1")
        tryCompare(logic, "showingConnection", true, 5000)
        verify(!logic.connectingToServer)
        compare(logic.connectionStep, 3)
        verify(logic.connectionReady)
        compare(logic.connectCommand, "connect 127.0.0.1:50123")
        compare(logic.pendingServer, null)

        // The selected server follows its fresh record across refreshes.
        standIn.dedicatedGameServersReceived("g1", [
            { id: "s1", name: "First (renamed)", address: "127.0.0.2", port: 27015, players: 3, capacity: 4, source: "official" }])
        compare(logic.selectedServer.name, "First (renamed)")
        ping.pingMeasured("127.0.0.2", 55)
        tryVerify(() => logic.selectedServer.ping === 55, 5000)

        logic.copyCommand()
        compare(standIn.callsTo("copyToClipboard")[0].args[0], "connect 127.0.0.1:50123")
        verify(logic.linkCopied)
        tryCompare(logic, "linkCopied", false, 5000)

        logic.closeConnection()
        compare(standIn.callsTo("stopDedicatedUdpForward").length, 1)
        verify(!logic.showingConnection)

        // A forward that ends elsewhere (a logout) closes the connection view too.
        logic.join(logic.gameServers[0])
        tryCompare(logic, "showingConnection", true, 5000)
        standIn.dedicatedUdpForwardStopped()
        verify(!logic.showingConnection)
        verify(!logic.connectingToServer)
        compare(logic.dedicatedForwardPort, 0)
        verify(!logic.showingConnection)
        verify(logic.showingServers)
        compare(logic.dedicatedForwardPort, 0)
        compare(logic.selectedGame.id, "g1")
    }

    function test_errorsEndEveryLoadingState() {
        const logic = logicWithServers([])
        logic.fetchServers(true)
        verify(logic.serversLoading)
        standIn.requestError("no")
        verify(!logic.serversLoading)
        verify(!logic.serversRefreshing)

        // Not while the logic is hidden.
        logic.fetchServers(true)
        logic.shown = false
        standIn.requestError("no")
        verify(logic.serversLoading)
    }

    function test_realServiceCatalogue() {
        testHost.use("api", realApi)
        const signedIn = signalSpy(realApi, "loginSuccess")
        realApi.login("demo", "demo1234")
        signedIn.wait(10000)
        const logic = newLogic()
        tryCompare(logic, "hasLoaded", true, 10000)
        const byId = {}
        logic.games.forEach(g => byId[g.id] = g)
        compare(byId["cs2"].players, "1.3K")
        compare(byId["cs2"].steamAppId, 730)
        compare(byId["cs2"].image, realApi.baseUrl + "/static/dedicated/cs2.png")
        compare(logic.gameStatus(byId["dota2"]), "full")
        compare(byId["dota2"].players, "2.5M")
        compare(logic.gameStatus(byId["retro-arena"]), "unavailable")
        compare(byId["mc java"].players, "37")
        tryCompare(logic, "motdText", "Welcome back, demo", 10000)

        logic.openGame(byId["mc java"])
        tryCompare(logic, "serversLoading", false, 10000)
        compare(logic.serverSourceTab, "community")
        compare(logic.gameServers.length, 2)
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
