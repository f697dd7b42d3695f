import QtQuick
import "../components"
import "../theme"
import "lan"

// The LAN page: join a room by its code, create one, or pick a public room;
// the progress cover while the tunnel comes up; the live room once it is ready.
// The page holds what the service says about the player's room and hands it to
// its panels; the public list's requests and timers are the list logic's.
Item {
    id: page

    // Set by the window.
    property var toast: null
    property bool disconnectConfirmBusy: false
    signal disconnectRequested()
    readonly property Item joinCardItem: actionCard
    readonly property Item publicTableItem: publicCard

    // Timings, properties so tests can shorten them.
    property alias searchDebounceMs: listLogic.searchDebounceMs
    property alias refreshSeconds: listLogic.refreshSeconds
    property alias countdownTickMs: listLogic.countdownTickMs
    property alias viewportFillDelayMs: listLogic.viewportFillDelayMs
    property alias errorRefetchPauseMs: listLogic.errorRefetchPauseMs
    property alias listReplyTimeoutMs: listLogic.listReplyTimeoutMs

    property bool connected: false
    property bool connecting: false
    readonly property bool isReconnecting: connected && api.vpnStatus !== "" && api.vpnStatus !== "ready"
                                           && api.vpnStatus !== "disconnecting"
    property alias showCreateMode: actionCard.showCreateMode
    property var gamesList: []
    property string motdText: ""
    property alias capacityValue: actionCard.capacityValue
    property alias selectedGameId: actionCard.selectedGameId

    // The public list, as its logic holds it.
    property alias publicVlansList: listLogic.publicVlansList
    property alias publicVlansTotal: listLogic.publicVlansTotal
    property alias searchQuery: listLogic.searchQuery
    property alias vlansLoading: listLogic.vlansLoading
    property alias hasMoreVlans: listLogic.hasMoreVlans
    property alias preserveScrollOnNextLoad: listLogic.preserveScrollOnNextLoad
    property alias refreshCountdown: listLogic.refreshCountdown
    readonly property ListView listView: publicCard.listView

    property var connectedUsers: []
    property alias usersSortAlpha: roomView.sortAlpha
    readonly property var displayedUsers: roomView.shownMembers

    property bool _apiConnected: false // the last state seen, not a binding: compared on each change
    property bool _signedIn: false // likewise for api.loggedIn

    // A short page (the smallest windows): the create form packs tighter and
    // the message of the day stands under the public list only, so the action
    // card gets the full height.
    readonly property bool compactHeight: disconnectedView.height < 500

    // ---- Text helpers -------------------------------------------------------

    function vpnStatusText(status) {
        const s = status === undefined || status === null ? "" : String(status)
        if (s === "connecting")
            return Lang.vpnConnecting
        if (s.startsWith("handshake:"))
            return s.substring(10) === "auth_sent" ? Lang.vpnAuth : Lang.vpnHandshake
        if (s === "connected" || s === "configuring")
            return Lang.vpnConfiguring
        if (s === "ready")
            return Lang.vpnReady
        if (s.startsWith("reconnecting:")) {
            const n = Number(s.substring(13))
            return n > 0 ? Lang.vpnReconnectingIn.arg(Lang.number(n)) : Lang.vpnReconnecting
        }
        if (s === "disconnecting")
            return Lang.disconnect + "..."
        return ""
    }

    function formatDuration(seconds) {
        const total = Math.max(0, Math.floor(seconds))
        const pad = v => (v < 10 ? "0" : "") + v
        return pad(Math.floor(total / 3600)) + ":" + pad(Math.floor(total / 60) % 60) + ":" + pad(total % 60)
    }

    function fetchVlans() {
        listLogic.fetchVlans()
    }

    // ---- Members ------------------------------------------------------------

    function _userRows(users) {
        const rows = []
        const source = users || []
        for (let i = 0; i < source.length; ++i) {
            const u = source[i] || {}
            rows.push({
                username: u.username === undefined || u.username === null ? "" : String(u.username),
                assignedIp: typeof u.assigned_ip === "string" ? u.assigned_ip : "",
                isAdmin: u.is_admin === true
            })
        }
        return rows
    }

    // Signed out: nothing the last player saw or typed stays for the next sign-in,
    // another player's or the same one's after "session expired"; the page asks
    // afresh for the list and the message of the day when it shows again.
    function _forgetSession() {
        listLogic.forget()
        publicCard.clearSearch()
        motdText = ""
        connectedUsers = []
        actionCard.forget()
    }

    function _copy(text) {
        api.copyToClipboard(text)
        if (toast)
            toast.success(Lang.copied)
    }

    onVisibleChanged: {
        if (!visible)
            return
        if (publicVlansList.length === 0)
            fetchVlans()
        if (motdText === "")
            api.fetchMotd()
    }
    Component.onCompleted: {
        _apiConnected = api.connected
        _signedIn = api.loggedIn
        if (visible) {
            if (publicVlansList.length === 0)
                fetchVlans()
            if (motdText === "")
                api.fetchMotd()
        }
    }

    Connections {
        target: api
        function onLoggedInChanged() {
            // Also announced for a rotated token; only a change of state counts.
            if (api.loggedIn === page._signedIn)
                return
            page._signedIn = api.loggedIn
            if (!api.loggedIn) {
                page._forgetSession()
                return
            }
            // A message that landed after the sign-out greets the player who left.
            page.motdText = ""
            if (page.visible)
                page.fetchVlans()
        }
        function onConnectedChanged() {
            // The signal also announces a renamed room; only a change of state counts.
            if (api.connected === page._apiConnected)
                return
            page._apiConnected = api.connected
            if (!api.connected) {
                page.connected = false
                page.connecting = false
                return
            }
            page.connecting = true
            if (page.motdText === "")
                api.fetchMotd()
            actionCard.resetForms()
        }
        function onVpnStatusChanged() {
            const s = api.vpnStatus
            if (s === "ready" && api.connected) {
                page.connecting = false
                page.connected = true
            } else if (s === "" || s === "disconnected" || s === "error") {
                page.connecting = false
            }
        }
        // The list logic takes its own part of a failure.
        function onRequestError(message) {
            page.connecting = false
        }
        function onDisconnectSuccess() {
            page.connected = false
            page.connecting = false
            page.connectedUsers = []
            publicCard.clearSearch()
            page.fetchVlans()
            api.fetchMotd()
        }
        function onMotdReceived(message) {
            page.motdText = message
        }
        // The message of the day comes in the request's language: a change of language
        // fetches it again (once signed in, or when one is already shown).
        function onLangChanged() {
            if (api.loggedIn || page.motdText !== "")
                api.fetchMotd()
        }
        function onGamesReceived(items) {
            const games = []
            const source = items || []
            for (let i = 0; i < source.length; ++i) {
                const g = source[i] || {}
                games.push({ id: Number(g.id) || 0, game_name: g.game_name === undefined || g.game_name === null ? "" : String(g.game_name) })
            }
            page.gamesList = games
        }
        function onUsersUpdated(users, playerCount) {
            if (api.connectedVlanId === "")
                return
            // Avatars are asked for by the rows in view, not for every member at once.
            page.connectedUsers = page._userRows(users)
        }
        function onUserIpAssigned(username, assignedIp) {
            page.connectedUsers = page.connectedUsers.map(
                u => u.username === username ? { username: u.username, assignedIp: assignedIp, isAdmin: u.isAdmin } : u)
        }
    }

    LanListLogic {
        id: listLogic
        listView: publicCard.listView
        active: page.visible && !page.connected
    }

    // ---- Disconnected view --------------------------------------------------

    Item {
        id: disconnectedView
        objectName: "disconnectedView"
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + Theme.spacingSmall
        visible: !page.connected

        ActionCard {
            id: actionCard
            anchors.left: parent.left
            anchors.top: parent.top
            width: Math.min(380, parent.width * 0.4)
            height: Math.min(parent.height - (motdLine.visible && !page.compactHeight ? motdLine.implicitHeight + Theme.spacing : 0),
                             actionCard.showCreateMode ? 560 : 300)
            games: page.gamesList
            compact: page.compactHeight
        }

        PublicListPanel {
            id: publicCard
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.bottomMargin: motdLine.visible ? motdLine.implicitHeight + Theme.spacing : 0
            anchors.left: actionCard.right
            anchors.leftMargin: Theme.spacing
            anchors.right: parent.right
            logic: listLogic
        }

        MotdText {
            id: motdLine
            objectName: "motdLine"
            anchors.bottom: parent.bottom
            anchors.horizontalCenter: page.compactHeight ? publicCard.horizontalCenter : parent.horizontalCenter
            width: page.compactHeight ? publicCard.width : parent.width
            text: page.motdText
            visible: page.motdText !== "" && !page.connected && !page.connecting && !api.busy
        }
    }

    // ---- Connected view -----------------------------------------------------

    RoomView {
        id: roomView
        objectName: "connectedView"
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + Theme.spacingSmall
        visible: page.connected
        dimmed: page.disconnectConfirmBusy
        members: page.connectedUsers
        statusText: page.vpnStatusText(api.vpnStatus)
        reconnecting: page.isReconnecting
        durationText: Lang.number(page.formatDuration(api.connectedSeconds))
        motdText: page.motdText
        toast: page.toast
        onDisconnectRequested: page.disconnectRequested()
        onCopyRequested: text => page._copy(text)
    }

    // ---- Progress cover -----------------------------------------------------

    ConnectingCover {
        id: progressCover
        objectName: "progressCover"
        visible: page.connecting
        text: page.vpnStatusText(api.vpnStatus)
        textObjectName: "progressText"
        detail: api.vpnLastError
        detailObjectName: "progressError"
    }
}
