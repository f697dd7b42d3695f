import QtQuick
import QtQuick.Controls
import Qt5Compat.GraphicalEffects
import "../components"
import "../theme"

// Dedicated servers: the games the service hosts, the servers of one game
// with their latency, and the local forward that gets the game onto one.
Item {
    id: page

    property var toast

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
    readonly property string amber: "#f3c84b"
    readonly property string green: "#9bf07e"

    // ---- Record normalisation -------------------------------------------------

    function isBlank(value) {
        return value === undefined || value === null || value === "" || value === 0 || value === false
    }
    // First key whose value is not blank.
    function firstOf(record, keys) {
        for (var i = 0; i < keys.length; ++i)
            if (!isBlank(record[keys[i]]))
                return record[keys[i]]
        return undefined
    }
    // The first key wins whenever it is present at all, else the second.
    function presentOf(record, first, second) {
        return record.hasOwnProperty(first) ? record[first] : record[second]
    }
    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }
    function numberOf(value) {
        if (value === undefined || value === null || value === "" || typeof value === "boolean")
            return 0
        var n = Number(value)
        return isFinite(n) ? n : 0
    }
    // Counts of players and slots: a negative count means nothing to show.
    function countOf(value) {
        return Math.max(0, numberOf(value))
    }
    function countText(value) {
        if (value === undefined || value === null || value === "")
            return "0"
        var n = typeof value === "number" ? value : (typeof value === "string" && value.trim() !== "" ? Number(value) : NaN)
        if (!isFinite(n))
            return String(value)
        if (n >= 1000000)
            return (n / 1000000).toFixed(1) + "M"
        if (n >= 1000)
            return (n / 1000).toFixed(1) + "K"
        return String(n)
    }
    function imageUrl(url) {
        var text = textOf(url)
        if (text === "")
            return ""
        // A picture comes from the web or with the program; any other address
        // (a local file, say) is no picture.
        if (text.startsWith("http://") || text.startsWith("https://") || text.startsWith("qrc:/"))
            return text
        if (text.startsWith("/"))
            return api.baseUrl + text
        return ""
    }
    function steamAppIdOfGame(record, id) {
        var value = numberOf(firstOf(record, ["steam_app_id", "steamAppId", "app_id", "appId", "appid"]))
        if (value > 0)
            return value
        var words = (id + " " + textOf(firstOf(record, ["short_name", "shortName"])) + " " + textOf(record.name)).toLowerCase()
        if (words.indexOf("dota") >= 0)
            return 570
        if (words.indexOf("cs2") >= 0 || words.indexOf("counter-strike") >= 0
                || words.indexOf("counter strike") >= 0 || words.indexOf("csgo") >= 0)
            return 730
        return 0
    }
    function normalizeGame(raw) {
        var record = (raw !== null && typeof raw === "object") ? raw : {}
        var id = textOf(firstOf(record, ["id", "game_id", "slug", "short_name", "name"]))
        var name = firstOf(record, ["name", "game_name"])
        var shortName = firstOf(record, ["short_name", "tag"])
        var serverCount = numberOf(presentOf(record, "server_count", "servers"))
        var available = (record.hasOwnProperty("available_server_count") || record.hasOwnProperty("available_servers"))
                ? numberOf(presentOf(record, "available_server_count", "available_servers")) : serverCount
        var accent = firstOf(record, ["accent", "accent_color"])
        return {
            id: id,
            name: name === undefined ? id : textOf(name),
            shortName: shortName === undefined ? id : textOf(shortName),
            image: imageUrl(firstOf(record, ["image_url", "image", "picture_url", "picture"])),
            serverCount: serverCount,
            availableServers: available,
            players: countText(presentOf(record, "player_count", "players")),
            servers: countText(serverCount),
            status: textOf(record.status).toLowerCase(),
            accent: /^#([0-9a-f]{3}|[0-9a-f]{6}|[0-9a-f]{8})$/i.test(textOf(accent)) ? textOf(accent) : String(Theme.accentLime),
            steamAppId: steamAppIdOfGame(record, id),
            description: textOf(record.description)
        }
    }
    function normalizeServer(raw) {
        var record = (raw !== null && typeof raw === "object") ? raw : {}
        var source = textOf(record.source).toLowerCase()
        var map = firstOf(record, ["map", "map_name"])
        return {
            id: textOf(firstOf(record, ["id", "server_id", "name"])),
            name: textOf(firstOf(record, ["name", "server_name"])),
            map: map === undefined ? "default" : textOf(map),
            mode: textOf(firstOf(record, ["mode", "type"])),
            ping: -1,
            players: countOf(presentOf(record, "players", "player_count")),
            capacity: countOf(firstOf(record, ["capacity", "max_players"])),
            address: textOf(firstOf(record, ["address", "server_address", "endpoint", "host", "ip"])),
            port: numberOf(firstOf(record, ["port", "query_port"])),
            steamAppId: numberOf(firstOf(record, ["steam_app_id", "app_id", "appid"])),
            steamUrl: textOf(firstOf(record, ["steam_url", "steam_link", "deep_link"])),
            source: source === "community" ? "community" : "official",
            region: textOf(record.region),
            description: textOf(record.description),
            ownerName: textOf(record.owner_name)
        }
    }
    function normalizeList(items, normalize) {
        var out = []
        if (!items || typeof items !== "object" || items.length === undefined)
            return out
        for (var i = 0; i < items.length; ++i)
            out.push(normalize(items[i]))
        return out
    }

    // ---- Game status ------------------------------------------------------------

    function gameStatus(game) {
        if (!game || game.status === "unavailable" || game.status === "disabled")
            return "unavailable"
        if (game.status === "full" || game.availableServers <= 0 || game.serverCount <= 0)
            return "full"
        return "active"
    }
    function statusLabel(status) {
        return status === "active" ? Lang.gameStatusActive : status === "full" ? Lang.gameStatusFull : Lang.gameStatusUnavailable
    }
    function statusColor(status) {
        return status === "active" ? green : status === "full" ? amber : Theme.textDimmed
    }

    // ---- Servers: matching, filter, sort ------------------------------------

    function endpointOf(server) {
        if (!server)
            return "127.0.0.1:27015"
        var address = server.address === "" ? "127.0.0.1" : server.address
        if (address.indexOf(":") >= 0)
            return address
        return address + ":" + (server.port > 0 ? server.port : 27015)
    }
    function sameServer(a, b) {
        if (!a || !b)
            return false
        if (a.id !== "" && b.id !== "" && a.id === b.id)
            return true
        if (a.address !== "" && b.address !== "" && a.address === b.address && a.port === b.port)
            return true
        if ((a.address !== "" || b.address !== "") && endpointOf(a) === endpointOf(b))
            return true
        return a.name !== "" && b.name !== "" && a.name === b.name
    }
    function freshRecordOf(server, list) {
        if (!server)
            return null
        for (var i = 0; i < list.length; ++i)
            if (sameServer(server, list[i]))
                return list[i]
        return server
    }
    function filterServers(list, tab, query) {
        var needle = query.trim().toLowerCase()
        return list.filter(function (s) {
            if (s.source !== tab)
                return false
            if (needle === "")
                return true
            var text = (s.name + " " + s.map + " " + s.mode + " " + s.ping + " " + s.region + " " + s.ownerName).toLowerCase()
            return text.indexOf(needle) >= 0
        })
    }
    function sortServers(list, column, descending) {
        if (column === "")
            return list
        var sorted = list.slice()
        sorted.sort(function (a, b) {
            if (column === "ping") {
                if ((a.ping < 0) !== (b.ping < 0))
                    return a.ping < 0 ? 1 : -1   // unmeasured last either way
                if (a.ping < 0)
                    return 0
                return descending ? b.ping - a.ping : a.ping - b.ping
            }
            var order = 0
            if (column === "capacity") {
                order = a.players - b.players
            } else {
                var x = a[column].toLowerCase(), y = b[column].toLowerCase()
                order = x < y ? -1 : x > y ? 1 : 0
            }
            return descending ? -order : order
        })
        return sorted
    }
    function sortBy(column) {
        if (serverSortColumn === column) {
            serverSortDescending = !serverSortDescending
        } else {
            serverSortColumn = column
            serverSortDescending = false
        }
    }
    function pingColor(ms) {
        return ms <= 40 ? green : ms <= 70 ? amber : Theme.errorColor
    }

    // ---- Connection texts ---------------------------------------------------------

    function beforeSlashOrQuery(text) {
        var cut = text.length
        var slash = text.indexOf("/"), query = text.indexOf("?")
        if (slash >= 0)
            cut = slash
        if (query >= 0 && query < cut)
            cut = query
        return text.substring(0, cut)
    }
    function remoteAddressOf(server) {
        if (!server)
            return ""
        if (server.address !== "")
            return server.address
        var url = server.steamUrl
        if (url.startsWith("steam://connect/"))
            return beforeSlashOrQuery(url.substring("steam://connect/".length))
        var at = url.indexOf("+connect%20")
        if (at >= 0) {
            var encoded = beforeSlashOrQuery(url.substring(at + "+connect%20".length))
            try {
                return decodeURIComponent(encoded)
            } catch (e) {
                return encoded
            }
        }
        return ""
    }
    function connectCommandFor(server, forwardPort) {
        if (!server)
            return ""
        return "connect " + (forwardPort > 0 ? "127.0.0.1:" + forwardPort : endpointOf(server))
    }
    function launchUrlFor(server, game) {
        var appId = server && server.steamAppId > 0 ? server.steamAppId : (game ? game.steamAppId : 0)
        return appId > 0 ? "steam://run/" + appId : "steam://open/games"
    }
    function stepText(step) {
        return step <= 0 ? Lang.connectionPreparing : step === 1 ? Lang.connectionRouting
             : step === 2 ? Lang.connectionChecking : Lang.connectionReady
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
        serverSearchQuery = ""
        serverSortColumn = ""
        serverSortDescending = false
        serverSourceTab = "official"
        firstServersResponse = true
        serversLoading = true
        scroller.contentY = 0
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
        scroller.contentY = 0
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
        scroller.contentY = 0
        api.stopDedicatedUdpForward()
    }
    function leaveServers() {
        closeConnection()
        selectedGame = null
        gameServers = []
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

    onVisibleChanged: if (visible) pageShown()
    Component.onCompleted: {
        _signedIn = api.loggedIn
        if (visible)
            pageShown()
    }

    Connections {
        target: api
        function onDedicatedGamesReceived(items) {
            page.games = page.normalizeList(items, page.normalizeGame)
            page.loading = false
            page.gamesRefreshing = false
            page.hasLoaded = true
        }
        function onDedicatedGameServersReceived(gameId, items) {
            if (!page.selectedGame || page.selectedGame.id !== gameId)
                return
            var list = page.normalizeList(items, page.normalizeServer)
            page.gameServers = list
            page.selectedServer = page.selectedServer ? page.freshRecordOf(page.selectedServer, list) : null
            page.pendingServer = page.pendingServer ? page.freshRecordOf(page.pendingServer, list) : null
            page.serversLoading = false
            page.serversRefreshing = false
            if (page.firstServersResponse) {
                page.firstServersResponse = false
                var official = list.some(function (s) { return s.source === "official" })
                var community = list.some(function (s) { return s.source === "community" })
                if (!official && community)
                    page.serverSourceTab = "community"
            }
            for (var i = 0; i < list.length; ++i)
                if (list[i].address !== "")
                    ping.pingHost(list[i].address)
        }
        function onMotdReceived(message) {
            page.motdText = message
        }
        // Each sign-in greets its own player: the message of the last session goes at
        // the sign-out and at the sign-in (a late reply), so the page asks again.
        function onLoggedInChanged() {
            if (api.loggedIn !== page._signedIn) {
                page._signedIn = api.loggedIn
                page.motdText = ""
            }
        }
        // A forward ended elsewhere (a logout) leaves no connection to show.
        function onDedicatedUdpForwardStopped() {
            if (page.selectedServer || page.pendingServer)
                page.closeConnection()
        }
        function onRequestError(message) {
            if (!page.visible)
                return
            page.loading = false
            page.gamesRefreshing = false
            page.serversLoading = false
            page.serversRefreshing = false
            page.hasLoaded = true
        }
    }

    // Latencies come one host at a time; they are applied together, in one pass
    // over the list, so a list of many servers is not copied once per answer.
    property var _pingsToApply: ({})
    Connections {
        target: ping
        function onPingMeasured(host, ms) {
            page._pingsToApply[host] = ms
            pingBatch.start()
        }
    }
    Timer {
        id: pingBatch
        interval: 50
        onTriggered: page.applyPings()
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
        interval: page.tickMs
        repeat: true
        running: page.visible && page.selectedGame === null
        onTriggered: {
            page.gamesRefreshCountdown -= 1
            if (page.gamesRefreshCountdown <= 0) {
                page.gamesRefreshCountdown = page.gamesRefreshSeconds
                if (!page.gamesRefreshing && !page.loading)
                    page.fetchGames(false)
            }
        }
    }
    Timer {
        id: serversTimer
        interval: page.tickMs
        repeat: true
        running: page.visible && page.selectedGame !== null && !page.connectingToServer
        onTriggered: {
            page.serversRefreshCountdown -= 1
            if (page.serversRefreshCountdown <= 0) {
                page.serversRefreshCountdown = page.serversRefreshSeconds
                if (!page.serversLoading && !page.serversRefreshing)
                    page.fetchServers(false)
            }
        }
    }
    Timer {
        id: stepTimer
        interval: page.connectionStepMs
        repeat: true
        onTriggered: {
            page.connectionStep += 1
            if (page.connectionStep >= 3)
                page.finishConnecting()
        }
    }
    Timer {
        id: disconnectDelay
        interval: page.disconnectDelayMs
        onTriggered: {
            page.closeConnection()
            disconnectDialog.hide()
        }
    }
    Timer {
        id: copiedTimer
        interval: page.copiedMarkMs
        onTriggered: page.linkCopied = false
    }

    // ---- View ---------------------------------------------------------------------

    // Texts align to the reading side: the page mirrors its layout in Persian.
    component Caption: Text {
        horizontalAlignment: Text.AlignLeft
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        textFormat: Text.PlainText
        elide: Text.ElideRight
    }
    component IconButton: Rectangle {
        id: iconButton
        property url icon
        property bool spinning: false
        signal clicked()
        width: 32; height: 32; radius: 10
        color: iconArea.containsMouse ? Theme.glassHover : Theme.glassBg
        border.color: Theme.glassBorder
        Image {
            anchors.centerIn: parent
            source: iconButton.icon
            sourceSize: Qt.size(16, 16)
            RotationAnimator on rotation {
                running: iconButton.spinning
                from: 0; to: 360; duration: 900; loops: Animation.Infinite
            }
        }
        MouseArea {
            id: iconArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: iconButton.clicked()
        }
    }
    Flickable {
        id: scroller
        anchors.fill: parent
        anchors.leftMargin: Theme.spacingLarge
        anchors.rightMargin: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        anchors.bottomMargin: motdLine.visible ? motdLine.height + Theme.spacing : 0
        contentWidth: width
        contentHeight: content.implicitHeight + 48
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: content
            width: scroller.width
            spacing: 18

            // ---- Header --------------------------------------------------------
            Item {
                width: parent.width
                // A title or line that takes two lines makes the header taller.
                height: Math.max(64, titleRow.height)
                Row {
                    id: titleRow
                    // Room the title and its line leave the actions at the far side.
                    readonly property real textRoom: parent.width - headerActions.width - 24
                                                     - (page.showingServers ? 32 + spacing : 0)
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 12
                    IconButton {
                        visible: page.showingServers
                        anchors.verticalCenter: parent.verticalCenter
                        icon: ""
                        onClicked: page.leaveServers()
                        objectName: "backButton"
                        Text {
                            anchors.centerIn: parent
                            text: "←"
                            color: Theme.textPrimary
                            font.pixelSize: 18
                            transform: Scale { origin.x: 9; xScale: Lang.isPersian ? -1 : 1 }
                        }
                    }
                    Column {
                        spacing: 4
                        Text {
                            anchors.left: parent.left
                            width: Math.min(implicitWidth, titleRow.textRoom)
                            wrapMode: Text.Wrap
                            maximumLineCount: 2
                            elide: Text.ElideRight
                            text: page.showingConnection ? page.selectedServer.name
                                : page.showingServerFlow ? page.selectedGame.name : Lang.dedicatedServerGames
                            textFormat: Text.PlainText
                            color: Theme.textWhite
                            font.family: Lang.titleFont
                            font.pixelSize: Theme.fontSizeTitle
                            font.bold: true
                        }
                        Caption {
                            anchors.left: parent.left
                            width: Math.min(implicitWidth, titleRow.textRoom)
                            wrapMode: Text.Wrap
                            maximumLineCount: 2
                            text: page.showingConnection ? Lang.dedicatedConnectionDesc
                                : page.showingServerFlow ? Lang.serverListDesc : Lang.gameDesc
                            font.pixelSize: Theme.fontSizeBody
                        }
                    }
                }
                Row {
                    id: headerActions
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 10
                    StatusBadge {
                        visible: page.showingConnection
                        anchors.verticalCenter: parent.verticalCenter
                        label: Lang.connected
                        active: true
                    }
                    Caption {
                        anchors.verticalCenter: parent.verticalCenter
                        // In a narrow window the connected server's name needs the room more.
                        visible: (page.showingServerFlow ? (!page.serversLoading && !page.serversRefreshing)
                                                         : (!page.loading && !page.gamesRefreshing))
                                 && !(page.showingConnection && content.width < 900)
                        text: Lang.refreshIn + " " + Lang.quantity(page.showingServerFlow ? page.serversRefreshCountdown
                                                                                          : page.gamesRefreshCountdown, "s")
                    }
                    IconButton {
                        objectName: "refreshButton"
                        anchors.verticalCenter: parent.verticalCenter
                        icon: "qrc:/icons/refresh.svg"
                        spinning: page.showingServerFlow ? page.serversRefreshing : page.gamesRefreshing
                        onClicked: {
                            if (page.showingServerFlow) {
                                if (!page.serversLoading)
                                    page.fetchServers(false)
                            } else if (!page.loading) {
                                page.fetchGames(false)
                            }
                        }
                    }
                    PrimaryButton {
                        visible: page.showingConnection
                        width: 140
                        anchors.verticalCenter: parent.verticalCenter
                        buttonColor: Theme.errorColor
                        text: Lang.disconnect
                        onClicked: disconnectDialog.show(Lang.confirmDisconnect)
                    }
                }
            }

            // ---- Games grid ----------------------------------------------------
            Grid {
                id: gameGrid
                anchors.left: parent.left
                visible: !page.showingServerFlow
                columns: Math.max(1, Math.floor((content.width + 16) / (420 + 16)))
                spacing: 16
                Repeater {
                    model: page.loading ? 3 : 0
                    Rectangle {
                        width: 420; height: 210; radius: Theme.borderRadius
                        color: Theme.glassBg
                        border.color: Theme.glassBorder
                        OpacityAnimator on opacity { from: 0.4; to: 1; duration: 900; loops: Animation.Infinite; running: true }
                    }
                }
                Repeater {
                    model: page.loading ? [] : page.games
                    delegate: Item {
                        id: card
                        readonly property var game: modelData
                        readonly property string status: page.gameStatus(game)
                        readonly property bool hovered: cardArea.containsMouse && status !== "unavailable"
                        objectName: "gameCard_" + game.id
                        width: 420
                        height: 210
                        scale: hovered ? 1.015 : 1
                        opacity: status === "unavailable" ? 0.55 : 1
                        Behavior on scale { NumberAnimation { duration: 160 } }

                        Item {
                            id: art
                            anchors.fill: parent
                            layer.enabled: true
                            layer.effect: OpacityMask {
                                maskSource: Rectangle { width: art.width; height: art.height; radius: Theme.borderRadius }
                            }
                            Rectangle {
                                anchors.fill: parent
                                gradient: Gradient {
                                    orientation: Gradient.Horizontal
                                    GradientStop { position: 0; color: Qt.darker(card.game.accent, 3.2) }
                                    GradientStop { position: 1; color: "#15151b" }
                                }
                            }
                            RemoteImage {
                                id: picture
                                anchors.fill: parent
                                url: card.game.image
                                fillMode: Image.PreserveAspectCrop
                                visible: false
                            }
                            Desaturate {
                                anchors.fill: parent
                                source: picture
                                visible: picture.status === Image.Ready
                                desaturation: card.hovered ? 0 : 0.85
                                Behavior on desaturation { NumberAnimation { duration: 220 } }
                            }
                            Rectangle {
                                anchors.fill: parent
                                gradient: Gradient {
                                    GradientStop { position: 0; color: Qt.rgba(0, 0, 0, card.hovered ? 0.15 : 0.35) }
                                    GradientStop { position: 1; color: Qt.rgba(0, 0, 0, card.hovered ? 0.7 : 0.85) }
                                }
                            }
                        }
                        Rectangle {
                            anchors.fill: parent
                            radius: Theme.borderRadius
                            color: "transparent"
                            border.color: card.hovered ? Qt.rgba(1, 1, 1, 0.18) : Theme.glassBorder
                        }

                        Rectangle {
                            anchors.top: parent.top
                            anchors.right: parent.right
                            anchors.margins: 14
                            height: 24
                            width: pillText.implicitWidth + 30
                            radius: 12
                            color: Qt.rgba(0, 0, 0, 0.55)
                            border.color: Qt.rgba(1, 1, 1, 0.12)
                            Row {
                                anchors.centerIn: parent
                                spacing: 6
                                Rectangle {
                                    width: 7; height: 7; radius: 3.5
                                    anchors.verticalCenter: parent.verticalCenter
                                    color: page.statusColor(card.status)
                                }
                                Text {
                                    id: pillText
                                    text: page.statusLabel(card.status)
                                    color: page.statusColor(card.status)
                                    font.family: Lang.bodyFont
                                    font.pixelSize: Theme.fontSizeSmall
                                    font.bold: true
                                }
                            }
                        }

                        Column {
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.bottom: parent.bottom
                            anchors.margins: 18
                            spacing: 4
                            Text {
                                anchors.left: parent.left
                                text: card.game.shortName
                                textFormat: Text.PlainText
                                color: card.game.accent
                                font.family: Lang.bodyFont
                                font.pixelSize: Theme.fontSizeSmall
                                font.bold: true
                                font.letterSpacing: Lang.isPersian ? 0 : 0.6
                            }
                            Text {
                                width: parent.width
                                text: card.game.name
                                horizontalAlignment: Text.AlignLeft
                                textFormat: Text.PlainText
                                color: Theme.textWhite
                                font.family: Lang.titleFont
                                font.pixelSize: 22
                                font.bold: true
                                elide: Text.ElideRight
                            }
                            Caption {
                                width: parent.width
                                text: card.game.description
                                color: Qt.rgba(1, 1, 1, 0.7)
                                visible: text !== ""
                            }
                            Row {
                                anchors.left: parent.left
                                topPadding: 6
                                spacing: 22
                                Repeater {
                                    model: [[card.game.players, Lang.playersLabel], [card.game.servers, Lang.serversLabel]]
                                    delegate: Row {
                                        spacing: 6
                                        Text {
                                            text: Lang.number(modelData[0])
                                            textFormat: Text.PlainText
                                            color: Theme.textWhite
                                            font.family: Lang.bodyFont
                                            font.pixelSize: Theme.fontSizeBody + 2
                                            font.bold: true
                                        }
                                        Caption {
                                            anchors.baseline: parent.children[0].baseline
                                            text: modelData[1]
                                            color: Qt.rgba(1, 1, 1, 0.6)
                                        }
                                    }
                                }
                            }
                        }

                        MouseArea {
                            id: cardArea
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: card.status === "unavailable" ? Qt.ForbiddenCursor : Qt.PointingHandCursor
                            onClicked: page.openGame(card.game)
                        }
                    }
                }
            }
            Caption {
                visible: !page.showingServerFlow && !page.loading && page.games.length === 0
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                topPadding: 40
                text: Lang.noResults
                font.pixelSize: Theme.fontSizeBody
            }

            // ---- Servers view ----------------------------------------------------
            Column {
                id: serversView
                visible: page.showingServers
                width: parent.width
                spacing: 14

                Item {
                    width: parent.width
                    height: 44
                    Text {
                        anchors.left: parent.left
                        anchors.verticalCenter: parent.verticalCenter
                        text: Lang.availableServers + (page.serversLoading ? "" : "  " + Lang.number(page.visibleServers.length) + " " + Lang.serversLabel)
                        textFormat: Text.PlainText
                        color: Theme.textPrimary
                        font.family: Lang.titleFont
                        font.pixelSize: Theme.fontSizeHeading
                    }
                    StyledTextField {
                        id: searchField
                        objectName: "serverSearch"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        width: 280
                        maximumLength: 50
                        placeholderText: Lang.searchServersPlaceholder
                        text: page.serverSearchQuery
                        onTextChanged: page.serverSearchQuery = text
                    }
                }

                Row {
                    anchors.left: parent.left
                    spacing: 10
                    Repeater {
                        model: [
                            { key: "official", label: Lang.officialServersTab, icon: "qrc:/icons/shield.svg" },
                            { key: "community", label: Lang.communityServersTab, icon: "qrc:/icons/gamepad.svg" }
                        ]
                        delegate: Rectangle {
                            readonly property bool current: page.serverSourceTab === modelData.key
                            width: tabRow.implicitWidth + 28
                            height: 36
                            radius: 18
                            color: current ? Qt.rgba(0.76, 0.99, 0.02, 0.12) : Theme.glassBg
                            border.color: current ? Theme.accentLime : Theme.glassBorder
                            Row {
                                id: tabRow
                                anchors.centerIn: parent
                                spacing: 8
                                Image {
                                    anchors.verticalCenter: parent.verticalCenter
                                    source: modelData.icon
                                    sourceSize: Qt.size(14, 14)
                                }
                                Text {
                                    anchors.verticalCenter: parent.verticalCenter
                                    text: modelData.label + "  " + (page.serversLoading ? "…"
                                          : Lang.number(modelData.key === "official" ? page.officialServers.length
                                                                                     : page.communityServers.length))
                                    color: current ? Theme.accentLime : Theme.textSecondary
                                    font.family: Lang.bodyFont
                                    font.pixelSize: Theme.fontSizeBody
                                }
                            }
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: page.serverSourceTab = modelData.key
                            }
                        }
                    }
                }

                GlassCard {
                    width: parent.width
                    height: serverTable.implicitHeight + 16
                    Column {
                        id: serverTable
                        x: 16
                        y: 8
                        width: parent.width - 32

                        Row {
                            width: parent.width
                            height: 40
                            Repeater {
                                model: [
                                    { key: "name", label: Lang.serverColumn, share: 0.26 },
                                    { key: "map", label: Lang.mapColumn, share: 0.17 },
                                    { key: "ping", label: Lang.pingColumn, share: 0.13 },
                                    { key: "capacity", label: Lang.capacity, share: 0.18 },
                                    { key: "", label: "", share: 0.26 }
                                ]
                                delegate: Item {
                                    width: serverTable.width * modelData.share
                                    height: 40
                                    Text {
                                        anchors.left: parent.left
                                        anchors.verticalCenter: parent.verticalCenter
                                        text: modelData.label + (page.serverSortColumn !== "" && page.serverSortColumn === modelData.key
                                                                 ? (page.serverSortDescending ? " ▾" : " ▴") : "")
                                        color: page.serverSortColumn === modelData.key && modelData.key !== "" ? Theme.accentLime : Theme.textSecondary
                                        font.family: Lang.bodyFont
                                        font.pixelSize: Theme.fontSizeCaption
                                        font.bold: true
                                        font.letterSpacing: Lang.isPersian ? 0 : 0.6
                                    }
                                    MouseArea {
                                        anchors.fill: parent
                                        enabled: modelData.key !== ""
                                        cursorShape: Qt.PointingHandCursor
                                        onClicked: page.sortBy(modelData.key)
                                    }
                                }
                            }
                        }
                        Rectangle { width: parent.width; height: 1; color: Theme.glassBorder }

                        Repeater {
                            model: page.serversLoading ? 5 : 0
                            Rectangle {
                                width: serverTable.width
                                height: 52
                                color: "transparent"
                                Rectangle {
                                    anchors.fill: parent
                                    anchors.topMargin: 8
                                    anchors.bottomMargin: 8
                                    radius: 8
                                    color: Theme.glassBg
                                    OpacityAnimator on opacity { from: 0.3; to: 1; duration: 900; loops: Animation.Infinite; running: true }
                                }
                            }
                        }
                        // The page scrolls, not the list: the view stands over the part of the
                        // rows the page has in sight and makes rows for that part only,
                        // reusing them as the page scrolls, whatever the length of the list.
                        Item {
                            id: serverRows
                            readonly property var rows: page.serversLoading ? [] : page.visibleServers
                            readonly property int rowHeight: 56
                            width: serverTable.width
                            height: rows.length * rowHeight
                            // Where the page's view starts, in this item; read again whenever the
                            // page scrolls or what stands above the rows changes size.
                            readonly property real viewTop: {
                                void (scroller.contentY + content.height + serverTable.height + height)
                                return scroller.contentY - mapToItem(content, 0, 0).y
                            }

                            ListView {
                                id: serverList
                                objectName: "serverList"
                                y: Math.max(0, Math.min(serverRows.height - height, serverRows.viewTop))
                                width: parent.width
                                height: Math.min(serverRows.height, scroller.height)
                                interactive: false
                                reuseItems: true
                                model: serverRows.rows
                                onYChanged: follow()
                                onCountChanged: follow()
                                onContentHeightChanged: follow()
                                function follow() { contentY = originY + y }
                                    delegate: Item {
                                        id: row
                                        required property var modelData
                                        readonly property var server: modelData
                                        width: serverTable.width
                                        readonly property bool joinable: server.capacity > 0 && server.players < server.capacity && !page.connectingToServer
                                        objectName: "serverRow_" + server.id
                                        height: 56

                                        Rectangle {
                                            anchors.fill: parent
                                            radius: 10
                                            color: rowArea.containsMouse ? Theme.glassHover : "transparent"
                                        }
                                        MouseArea { id: rowArea; anchors.fill: parent; hoverEnabled: true }

                                        Row {
                                            anchors.fill: parent
                                            Item {
                                                width: row.width * 0.26; height: parent.height
                                                Column {
                                                    anchors.left: parent.left
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    width: parent.width - 12
                                                    Text {
                                                        width: parent.width
                                                        text: row.server.name
                                                        horizontalAlignment: Text.AlignLeft
                                                        textFormat: Text.PlainText
                                                        color: Theme.textPrimary
                                                        font.family: Lang.bodyFont
                                                        font.pixelSize: Theme.fontSizeBody
                                                        font.bold: true
                                                        elide: Text.ElideRight
                                                    }
                                                    Caption {
                                                        width: parent.width
                                                        visible: text !== ""
                                                        text: [row.server.region, row.server.ownerName].filter(function (t) { return t !== "" }).join(" · ")
                                                        font.pixelSize: Theme.fontSizeCaption
                                                    }
                                                }
                                            }
                                            Item {
                                                width: row.width * 0.17; height: parent.height
                                                Caption {
                                                    anchors.left: parent.left
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    width: parent.width - 12
                                                    text: row.server.map
                                                    color: Theme.textPrimary
                                                    font.pixelSize: Theme.fontSizeBody
                                                }
                                            }
                                            Item {
                                                width: row.width * 0.13; height: parent.height
                                                Text {
                                                    objectName: "pingText"
                                                    anchors.left: parent.left
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    text: row.server.ping >= 0 ? Lang.quantity(row.server.ping, "ms") : "…"
                                                    color: row.server.ping >= 0 ? page.pingColor(row.server.ping) : Theme.textSecondary
                                                    font.family: Lang.figureFont
                                                    font.pixelSize: Theme.fontSizeBody
                                                }
                                            }
                                            Item {
                                                width: row.width * 0.18; height: parent.height
                                                Column {
                                                    anchors.left: parent.left
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    spacing: 5
                                                    width: parent.width - 24
                                                    Text {
                                                        anchors.left: parent.left
                                                        text: Lang.number(row.server.players + "/" + row.server.capacity)
                                                        color: Theme.textPrimary
                                                        font.family: Lang.figureFont
                                                        font.pixelSize: Theme.fontSizeSmall
                                                    }
                                                    Rectangle {
                                                        width: parent.width
                                                        height: 4
                                                        radius: 2
                                                        color: Theme.glassBorder
                                                        Rectangle {
                                                            height: parent.height
                                                            radius: 2
                                                            anchors.left: parent.left
                                                            width: row.server.capacity > 0 ? parent.width * Math.min(1, row.server.players / row.server.capacity) : 0
                                                            color: row.server.players >= row.server.capacity ? page.amber : Theme.accentLime
                                                        }
                                                    }
                                                }
                                            }
                                            Item {
                                                width: row.width * 0.26; height: parent.height
                                                PrimaryButton {
                                                    objectName: "joinButton"
                                                    anchors.right: parent.right
                                                    anchors.verticalCenter: parent.verticalCenter
                                                    width: 110
                                                    height: 34
                                                    accent: true
                                                    text: Lang.joinBtn
                                                    enabled: row.joinable
                                                    opacity: enabled || loading ? 1 : 0.35
                                                    loading: page.connectingToServer && page.sameServer(page.pendingServer, row.server)
                                                    onClicked: page.join(row.server)
                                                }
                                            }
                                        }
                                        Rectangle {
                                            anchors.bottom: parent.bottom
                                            width: parent.width
                                            height: 1
                                            color: Qt.rgba(1, 1, 1, 0.04)
                                        }
                                    }
                            }
                        }
                        Caption {
                            visible: !page.serversLoading && page.visibleServers.length === 0
                            width: parent.width
                            height: 64
                            verticalAlignment: Text.AlignVCenter
                            horizontalAlignment: Text.AlignHCenter
                            text: Lang.noResults
                            font.pixelSize: Theme.fontSizeBody
                        }
                    }
                }
            }

            // ---- Connection view ---------------------------------------------------
            // Two columns down to the smallest window, and cards no taller than their
            // content: the connect code and Launch Game stand in view without scrolling.
            Grid {
                id: connectionView
                visible: page.showingConnection
                width: parent.width
                columns: width > 560 ? 2 : 1
                spacing: 16
                readonly property real cardWidth: columns === 2 ? (width - spacing) / 2 : width
                readonly property real padding: 18
                readonly property real topHeight: Math.max(statusColumn.implicitHeight, infoColumn.implicitHeight)
                                                  + 2 * padding
                readonly property real bottomHeight: commandColumn.implicitHeight + 2 * padding

                GlassCard {
                    width: connectionView.cardWidth
                    height: connectionView.topHeight
                    elevated: true
                    Column {
                        id: statusColumn
                        anchors.fill: parent
                        anchors.margins: connectionView.padding
                        spacing: 14
                        Caption { anchors.left: parent.left; text: Lang.connectionStatus; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
                        Text {
                            anchors.left: parent.left
                            text: page.stepText(page.connectionStep)
                            color: page.connectionReady ? page.green : page.amber
                            font.family: Lang.titleFont
                            font.pixelSize: Theme.fontSizeHeading
                        }
                        Rectangle {
                            width: parent.width
                            height: 6
                            radius: 3
                            color: Theme.glassBorder
                            Rectangle {
                                anchors.left: parent.left
                                width: parent.width * Math.min(1, page.connectionStep / 3)
                                height: parent.height
                                radius: 3
                                color: page.connectionReady ? page.green : page.amber
                                Behavior on width { NumberAnimation { duration: 300 } }
                            }
                        }
                    }
                }

                GlassCard {
                    width: connectionView.cardWidth
                    height: connectionView.topHeight
                    elevated: true
                    Column {
                        id: infoColumn
                        anchors.fill: parent
                        anchors.margins: connectionView.padding
                        spacing: 6
                        Caption { anchors.left: parent.left; text: Lang.serverInfo; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
                        Repeater {
                            model: page.selectedServer ? [
                                [Lang.gameColumn, page.selectedGame ? page.selectedGame.name : ""],
                                [Lang.mapColumn, page.selectedServer.map],
                                [Lang.pingColumn, page.selectedServer.ping >= 0 ? Lang.quantity(page.selectedServer.ping, "ms") : "…"],
                                [Lang.capacity, Lang.number(page.selectedServer.players + "/" + page.selectedServer.capacity)]
                            ] : []
                            delegate: Item {
                                width: parent.width
                                height: 18
                                Caption { id: infoLabel; anchors.left: parent.left; text: modelData[0] }
                                Text {
                                    anchors.right: parent.right
                                    // Half a window is narrow: a long value gives way before it meets its label.
                                    width: Math.min(implicitWidth, parent.width - infoLabel.implicitWidth - 12)
                                    elide: Text.ElideRight
                                    text: modelData[1]
                                    textFormat: Text.PlainText
                                    color: Theme.textPrimary
                                    font.family: Lang.bodyFont
                                    font.pixelSize: Theme.fontSizeBody
                                }
                            }
                        }
                    }
                }

                GlassCard {
                    width: connectionView.cardWidth
                    height: connectionView.bottomHeight
                    elevated: true
                    Column {
                        id: commandColumn
                        anchors.fill: parent
                        anchors.margins: connectionView.padding
                        spacing: 12
                        Caption { anchors.left: parent.left; text: Lang.consoleCommand; font.bold: true; font.letterSpacing: Lang.isPersian ? 0 : 0.6 }
                        Rectangle {
                            width: parent.width
                            height: 44
                            radius: Theme.borderRadiusSmall
                            color: Qt.rgba(0, 0, 0, 0.3)
                            border.color: page.linkCopied ? page.green : Theme.glassBorder
                            // A console command reads left to right in every language.
                            LayoutMirroring.enabled: false
                            LayoutMirroring.childrenInherit: true
                            Text {
                                id: commandText
                                objectName: "connectCommand"
                                anchors.left: parent.left
                                anchors.leftMargin: 14
                                anchors.right: copyButton.left
                                anchors.rightMargin: 6
                                anchors.verticalCenter: parent.verticalCenter
                                text: page.connectCommand
                                textFormat: Text.PlainText
                                color: Theme.accentLime
                                font.family: Theme.monoFont
                                font.pixelSize: Theme.fontSizeBody + 1
                                horizontalAlignment: Text.AlignLeft
                                elide: Text.ElideRight
                            }
                            IconButton {
                                id: copyButton
                                objectName: "copyCommand"
                                anchors.right: parent.right
                                anchors.rightMargin: 6
                                anchors.verticalCenter: parent.verticalCenter
                                icon: "qrc:/icons/copy.svg"
                                color: page.linkCopied ? Qt.rgba(0.61, 0.94, 0.49, 0.25) : Theme.glassBg
                                onClicked: page.copyCommand()
                            }
                        }
                    }
                }

                Item {
                    width: connectionView.cardWidth
                    height: connectionView.bottomHeight
                    PrimaryButton {
                        objectName: "launchButton"
                        anchors.centerIn: parent
                        width: Math.min(parent.width, 260)
                        height: 48
                        accent: true
                        enabled: page.connectionReady
                        text: Lang.launchGame
                        onClicked: page.launchGame()
                    }
                }
            }
        }
    }

    // ---- Message of the day: centred at the bottom of the page ------------------------
    Text {
        id: motdLine
        objectName: "gameMotd"
        visible: page.motdText !== ""
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: Theme.spacingLarge
        anchors.rightMargin: Theme.spacingLarge
        anchors.bottomMargin: Theme.spacing
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: page.motdText
        textFormat: Text.PlainText
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeBody
        maximumLineCount: 3
        elide: Text.ElideRight
    }

    // ---- Connecting cover -----------------------------------------------------------
    ConnectingCover {
        id: connectingCover
        objectName: "connectingCover"
        visible: page.connectingToServer
        text: page.stepText(page.connectionStep)
        textObjectName: "connectingStep"
    }

    ConfirmDialog {
        id: disconnectDialog
        anchors.fill: parent
        onConfirmed: disconnectDelay.restart()
        onCancelled: disconnectDelay.stop()
    }
}
