import QtQuick
import "../../theme"

// The game page's lists and their timers: the catalogue and the servers of the
// chosen game with the requests in flight, their refresh countdowns, latency
// handed over from the pinger, and the connect flow with the forward's state.
// The page and its panels bind to it; it knows nothing of their items.
GameRecords {
    id: logic

    // Whether the page is in view: lists are fetched and errors taken only then.
    property bool shown: false

    // Lists and loading
    property var games: []
    property bool loading: false
    property bool hasLoaded: false
    property bool gamesRefreshing: false
    property int gamesRefreshCountdown: gamesRefreshSeconds
    property var selectedGame: null
    property var gameServers: []
    property bool serversLoading: false
    property bool serversRefreshing: false
    property int serversRefreshCountdown: serversRefreshSeconds
    property bool firstServersResponse: false
    property string serverSearchQuery: ""
    property string serverSourceTab: "official"
    property string serverSortColumn: ""
    property bool serverSortDescending: false

    // Connection
    property var pendingServer: null
    property var selectedServer: null
    property bool connectingToServer: false
    property int connectionStep: 0
    property int dedicatedForwardPort: 0
    property bool linkCopied: false
    property string motdText: ""
    property bool _signedIn: false // the last state seen, not a binding: compared on each change

    readonly property bool showingServerFlow: selectedGame !== null
    readonly property bool showingServers: selectedGame !== null && selectedServer === null
    readonly property bool showingConnection: selectedServer !== null
    readonly property bool connectionReady: showingConnection && connectionStep >= 3

    // Timings, properties so tests can shorten them.
    property int gamesRefreshSeconds: 30
    property int serversRefreshSeconds: 15
    property int tickMs: 1000
    property int connectionStepMs: 850
    property int disconnectDelayMs: 650
    property int copiedMarkMs: 1600

    readonly property var officialServers: gameServers.filter(function (s) { return s.source === "official" })
    readonly property var communityServers: gameServers.filter(function (s) { return s.source === "community" })
    readonly property var visibleServers: sortServers(filterServers(gameServers, serverSourceTab, serverSearchQuery),
                                                      serverSortColumn, serverSortDescending)
    readonly property string connectCommand: connectCommandFor(selectedServer, dedicatedForwardPort)

    // The page scrolls back to its top (a new game, a connection opened or closed).
    signal scrollToTop()
    // The player's disconnect has run: the confirmation may go.
    signal disconnectFinished()

    function sortBy(column) {
        if (serverSortColumn === column) {
            serverSortDescending = !serverSortDescending
        } else {
            serverSortColumn = column
            serverSortDescending = false
        }
    }

    // ---- Actions ------------------------------------------------------------------

    function fetchGames(withSkeleton) {
        if (withSkeleton || !hasLoaded)
            loading = true
        gamesRefreshing = true
        gamesRefreshCountdown = gamesRefreshSeconds
        api.fetchDedicatedGames()
    }
    function fetchServers(withPlaceholders) {
        if (!selectedGame)
            return
        if (withPlaceholders)
            serversLoading = true
        serversRefreshing = true
        serversRefreshCountdown = serversRefreshSeconds
        api.fetchDedicatedGameServers(selectedGame.id)
    }
    function pageShown() {
        if (!hasLoaded && !loading)
            fetchGames(true)
        if (motdText === "")
            api.fetchMotd()
    }
    function openGame(game) {
        if (gameStatus(game) === "unavailable")
            return
        selectedGame = game
        gameServers = []
        pingServers()
        serverSearchQuery = ""
        serverSortColumn = ""
        serverSortDescending = false
        serverSourceTab = "official"
        firstServersResponse = true
        serversLoading = true
        scrollToTop()
        fetchServers(true)
    }
    function join(server) {
        var port = api.startDedicatedUdpForward(remoteAddressOf(server), server.port)
        if (port <= 0)
            return   // the back end has reported why
        dedicatedForwardPort = port
        pendingServer = server
        connectingToServer = true
        connectionStep = 0
        stepTimer.restart()
    }
    function finishConnecting() {
        stepTimer.stop()
        selectedServer = pendingServer
        pendingServer = null
        connectingToServer = false
        connectionStep = 3
        scrollToTop()
        logger.logInfo("dedicated", "ready: " + connectCommand)
        fetchServers(false)
    }
    function closeConnection() {
        stepTimer.stop()
        disconnectDelay.stop()
        selectedServer = null
        pendingServer = null
        connectingToServer = false
        connectionStep = 0
        dedicatedForwardPort = 0
        scrollToTop()
        api.stopDedicatedUdpForward()
    }
    function leaveServers() {
        closeConnection()
        selectedGame = null
        gameServers = []
        pingServers()
        serverSearchQuery = ""
        serverSortColumn = ""
        serverSortDescending = false
        serverSourceTab = "official"
    }
    function copyCommand() {
        api.copyToClipboard(connectCommand)
        linkCopied = true
        copiedTimer.restart()
    }
    function launchGame() {
        Qt.openUrlExternally(launchUrlFor(selectedServer, selectedGame))
    }
    // The player confirmed the disconnect: it runs after a short pause, unless taken back.
    // The pinger measures the list in view and nothing else: what it still has
    // queued of another game, an older list or a page out of sight gives way,
    // so a long list elsewhere does not keep this one's latency blank.
    function pingServers() {
        const hosts = []
        if (shown) {
            for (let i = 0; i < gameServers.length; ++i)
                if (gameServers[i].address !== "")
                    hosts.push(gameServers[i].address)
        }
        ping.keepOnly(hosts)
        for (let k = 0; k < hosts.length; ++k)
            ping.pingHost(hosts[k])
    }
    function confirmDisconnect() {
        disconnectDelay.restart()
    }
    function cancelDisconnect() {
        disconnectDelay.stop()
    }

    // Shown from the start counts once, when the logic is complete.
    property bool _complete: false
    onShownChanged: {
        if (!_complete)
            return
        if (shown)
            pageShown()
        pingServers()
    }
    Component.onCompleted: {
        _complete = true
        _signedIn = api.loggedIn
        if (shown)
            pageShown()
    }

    Connections {
        target: api
        function onDedicatedGamesReceived(items) {
            logic.games = logic.normalizeList(items, logic.normalizeGame)
            logic.loading = false
            logic.gamesRefreshing = false
            logic.hasLoaded = true
        }
        function onDedicatedGameServersReceived(gameId, items) {
            if (!logic.selectedGame || logic.selectedGame.id !== gameId)
                return
            var list = logic.normalizeList(items, logic.normalizeServer)
            logic.gameServers = list
            logic.selectedServer = logic.selectedServer ? logic.freshRecordOf(logic.selectedServer, list) : null
            logic.pendingServer = logic.pendingServer ? logic.freshRecordOf(logic.pendingServer, list) : null
            logic.serversLoading = false
            logic.serversRefreshing = false
            if (logic.firstServersResponse) {
                logic.firstServersResponse = false
                var official = list.some(function (s) { return s.source === "official" })
                var community = list.some(function (s) { return s.source === "community" })
                if (!official && community)
                    logic.serverSourceTab = "community"
            }
            logic.pingServers()
        }
        function onMotdReceived(message) {
            logic.motdText = message
        }
        // Each sign-in greets its own player: the message of the last session goes at
        // the sign-out and at the sign-in (a late reply), so the page asks again.
        function onLoggedInChanged() {
            if (api.loggedIn !== logic._signedIn) {
                logic._signedIn = api.loggedIn
                logic.motdText = ""
            }
        }
        // A forward ended elsewhere (a logout) leaves no connection to show.
        function onDedicatedUdpForwardStopped() {
            if (logic.selectedServer || logic.pendingServer)
                logic.closeConnection()
        }
        function onRequestError(message) {
            if (!logic.shown)
                return
            logic.loading = false
            logic.gamesRefreshing = false
            logic.serversLoading = false
            logic.serversRefreshing = false
            logic.hasLoaded = true
        }
    }

    // Latencies come one host at a time; they are applied together, in one pass
    // over the list, so a list of many servers is not copied once per answer.
    property var _pingsToApply: ({})
    Connections {
        target: ping
        function onPingMeasured(host, ms) {
            logic._pingsToApply[host] = ms
            pingBatch.start()
        }
    }
    Timer {
        id: pingBatch
        interval: 50
        onTriggered: logic.applyPings()
    }
    function applyPings() {
        const measured = _pingsToApply
        _pingsToApply = {}
        var changed = false
        var list = gameServers.map(function (s) {
            if (!measured.hasOwnProperty(s.address))
                return s
            changed = true
            var copy = Object.assign({}, s)
            copy.ping = measured[s.address]
            return copy
        })
        if (!changed)
            return
        gameServers = list
        if (selectedServer)
            selectedServer = freshRecordOf(selectedServer, list)
        if (pendingServer)
            pendingServer = freshRecordOf(pendingServer, list)
    }

    Timer {
        id: gamesTimer
        interval: logic.tickMs
        repeat: true
        running: logic.shown && logic.selectedGame === null
        onTriggered: {
            logic.gamesRefreshCountdown -= 1
            if (logic.gamesRefreshCountdown <= 0) {
                logic.gamesRefreshCountdown = logic.gamesRefreshSeconds
                if (!logic.gamesRefreshing && !logic.loading)
                    logic.fetchGames(false)
            }
        }
    }
    Timer {
        id: serversTimer
        interval: logic.tickMs
        repeat: true
        running: logic.shown && logic.selectedGame !== null && !logic.connectingToServer
        onTriggered: {
            logic.serversRefreshCountdown -= 1
            if (logic.serversRefreshCountdown <= 0) {
                logic.serversRefreshCountdown = logic.serversRefreshSeconds
                if (!logic.serversLoading && !logic.serversRefreshing)
                    logic.fetchServers(false)
            }
        }
    }
    Timer {
        id: stepTimer
        interval: logic.connectionStepMs
        repeat: true
        onTriggered: {
            logic.connectionStep += 1
            if (logic.connectionStep >= 3)
                logic.finishConnecting()
        }
    }
    Timer {
        id: disconnectDelay
        interval: logic.disconnectDelayMs
        onTriggered: {
            logic.closeConnection()
            logic.disconnectFinished()
        }
    }
    Timer {
        id: copiedTimer
        interval: logic.copiedMarkMs
        onTriggered: logic.linkCopied = false
    }
}
