import QtQuick
import "../../theme"

// How the game page reads the service's records: games and servers in every
// spelling the service has used, their status, matching, filter and sort, and
// the texts of a connection. Functions of their arguments only.
QtObject {
    // What builds on these functions (the page's logic) holds its timers and connections here.
    default property list<QtObject> parts

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
}
