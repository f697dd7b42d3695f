import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../components"
import "../theme"

// The LAN page: join a room by its code, create one, or pick a public room;
// the progress cover while the tunnel comes up; the live room once it is ready.
Item {
    id: page

    // Set by the window.
    property var toast: null
    property bool disconnectConfirmBusy: false
    signal disconnectRequested()
    readonly property Item joinCardItem: actionCard
    readonly property Item publicTableItem: publicCard

    // Timings, properties so tests can shorten them.
    property int searchDebounceMs: 350
    property int refreshSeconds: 30
    property int countdownTickMs: 1000
    property int viewportFillDelayMs: 50
    // After a failed request the list is fetched again at most once per pause,
    // so a service that is down gets no request storm.
    property int errorRefetchPauseMs: 5000
    // Every request ends in a reply or an error well within this; a list request that
    // got neither (or only a reply for another page) is given up, so the list never
    // stays loading.
    property int listReplyTimeoutMs: 25000

    property bool connected: false
    property bool connecting: false
    readonly property bool isReconnecting: connected && api.vpnStatus !== "" && api.vpnStatus !== "ready"
                                           && api.vpnStatus !== "disconnecting"
    property bool showCreateMode: false
    property var gamesList: []
    property string motdText: ""
    property int capacityValue: 5
    property real selectedGameId: 0 // a real: ids past 2^31 keep their value

    property var publicVlansList: []
    property int publicVlansTotal: 0
    property string searchQuery: ""
    property int currentPage: 0
    readonly property int itemsPerPage: 10
    property bool vlansLoading: false
    property bool hasMoreVlans: true
    property bool preserveScrollOnNextLoad: false
    property int refreshCountdown: refreshSeconds

    property var connectedUsers: []
    property bool usersSortAlpha: false
    readonly property var displayedUsers: usersSortAlpha ? sortedByName(connectedUsers) : connectedUsers

    // The list request on the wire and the newer one waiting behind it. One at a
    // time, because a reply does not say which search it answers.
    property var _listInFlight: null
    property var _listQueued: null
    // The search the shown rows answer; further pages must match it, not a newer one still being typed.
    property string _shownSearch: ""
    property double _lastErrorRefetchMs: 0
    property bool _apiConnected: false // the last state seen, not a binding: compared on each change
    property bool _signedIn: false // likewise for api.loggedIn

    readonly property alias listView: vlanList
    // A narrow public list (the smallest windows): the search goes to a line of
    // its own, the owner and game stack in one column, the capacity bar goes.
    readonly property bool compactList: publicCard.width < 500
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

    // "Sam (Dota 2)" -> owner "Sam", game "Dota 2"; any other shape is all owner.
    function splitVlanName(name) {
        const text = name === undefined || name === null ? "" : String(name)
        const at = text.lastIndexOf(" (")
        if (at > 0 && text.endsWith(")"))
            return { username: text.substring(0, at), gameName: text.substring(at + 2, text.length - 1) }
        return { username: text, gameName: "" }
    }

    function sortedByName(users) {
        return users.slice().sort((a, b) => a.username.toLowerCase().localeCompare(b.username.toLowerCase()))
    }

    function toRow(item) {
        const o = item || {}
        const parts = splitVlanName(o.name)
        return {
            id: o.id === undefined || o.id === null ? "" : String(o.id),
            name: o.name === undefined || o.name === null ? "" : String(o.name),
            username: parts.username,
            gameName: parts.gameName,
            players: Number(o.players) || 0,
            capacity: Number(o.capacity) || 0
        }
    }

    // ---- Public list --------------------------------------------------------

    function _sendList(page, search) {
        // Signed out, the service refuses the list and the refusal would be an error
        // toast; the list is asked for again at sign-in.
        if (!api.loggedIn) {
            vlansLoading = false
            return
        }
        const request = { page: page, search: search }
        refreshCountdown = refreshSeconds
        if (_listInFlight) {
            _listQueued = request
            return
        }
        _putOnWire(request)
    }

    function _putOnWire(request) {
        _listInFlight = request
        listWatchdog.restart()
        api.fetchPublicVlans(request.page, itemsPerPage, request.search)
    }

    // Ends the wait for the request on the wire; the one queued behind it goes out.
    function _releaseList() {
        _listInFlight = null
        listWatchdog.stop()
        if (_listQueued) {
            const next = _listQueued
            _listQueued = null
            _putOnWire(next)
            return true
        }
        return false
    }

    function fetchVlans() {
        currentPage = 0
        hasMoreVlans = true
        vlansLoading = true
        preserveScrollOnNextLoad = false
        _sendList(0, searchQuery)
    }

    function autoRefreshVlans() {
        currentPage = 0
        hasMoreVlans = true
        vlansLoading = true
        preserveScrollOnNextLoad = true
        _sendList(0, searchQuery)
    }

    function loadMoreVlans() {
        if (vlansLoading || !hasMoreVlans)
            return
        currentPage = currentPage + 1
        vlansLoading = true
        _sendList(currentPage, _shownSearch)
    }

    function _takeVlans(items, total, replyPage, totalPages) {
        const asked = _listInFlight
        if (!asked || asked.page !== replyPage)
            return // answers a request already given up or superseded
        if (_releaseList())
            return // superseded by the request that just went out
        const rows = []
        const source = items || []
        for (let i = 0; i < source.length; ++i)
            rows.push(toRow(source[i]))
        if (replyPage === 0) {
            _shownSearch = asked.search
            const keep = preserveScrollOnNextLoad
            const y = vlanList.contentY
            publicVlansList = rows
            if (keep) {
                vlanList.forceLayout()
                vlanList.contentY = Math.max(vlanList.originY,
                                             Math.min(y, vlanList.originY + vlanList.contentHeight - vlanList.height))
            } else {
                vlanList.positionViewAtBeginning()
            }
            preserveScrollOnNextLoad = false
        } else {
            publicVlansList = publicVlansList.concat(rows)
        }
        publicVlansTotal = total
        hasMoreVlans = replyPage < totalPages - 1
        vlansLoading = false
    }

    function _refetchAfterError() {
        if (!api.loggedIn)
            return
        const now = Date.now()
        if (now - _lastErrorRefetchMs >= errorRefetchPauseMs) {
            _lastErrorRefetchMs = now
            errorRefetchTimer.stop()
            fetchVlans()
        } else if (!errorRefetchTimer.running) {
            errorRefetchTimer.interval = Math.max(1, errorRefetchPauseMs - (now - _lastErrorRefetchMs))
            errorRefetchTimer.start()
        }
    }

    function countdownTick() {
        refreshCountdown = refreshCountdown - 1
        if (refreshCountdown > 0)
            return
        refreshCountdown = refreshSeconds
        if (page.visible && !page.connected && vlanList.contentY - vlanList.originY <= 500)
            autoRefreshVlans()
    }

    function _checkEndReached() {
        if (vlansLoading || !hasMoreVlans || publicVlansList.length === 0)
            return
        if (vlanList.contentY + vlanList.height >= vlanList.originY + vlanList.contentHeight - 50)
            loadMoreVlans()
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

    function _resetForms() {
        joinField.text = ""
        capacityValue = 5
        publicCheck.checked = true
        showCreateMode = false
    }

    // Signed out: nothing the last player saw or typed stays for the next sign-in,
    // another player's or the same one's after "session expired"; the page asks
    // afresh for the list and the message of the day when it shows again.
    function _forgetSession() {
        errorRefetchTimer.stop()
        listWatchdog.stop()
        _listQueued = null
        _listInFlight = null // a reply still on its way answers the old session
        publicVlansList = []
        publicVlansTotal = 0
        currentPage = 0
        hasMoreVlans = true
        vlansLoading = false
        preserveScrollOnNextLoad = false
        _shownSearch = ""
        searchField.text = ""
        searchQuery = ""
        searchTimer.stop()
        refreshCountdown = refreshSeconds
        motdText = ""
        connectedUsers = []
        selectedGameId = 0
        gameSearchField.text = ""
        _resetForms()
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
            page._resetForms()
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
        function onRequestError(message) {
            page.connecting = false
            // The failure may be the list's own; either way nothing is waited for any more.
            // No further pages until page 0 loads again: a failed page must not be asked
            // for again at once by the endless scrolling or the viewport fill.
            if (page._listInFlight)
                page.hasMoreVlans = false
            page._listQueued = null
            page._releaseList()
            page.vlansLoading = false
            page._refetchAfterError()
        }
        function onDisconnectSuccess() {
            page.connected = false
            page.connecting = false
            page.connectedUsers = []
            searchField.text = ""
            page.searchQuery = ""
            searchTimer.stop()
            page.fetchVlans()
            api.fetchMotd()
        }
        function onVlansReceived(items, total, replyPage, totalPages) {
            page._takeVlans(items, total, replyPage, totalPages)
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

    Timer {
        id: searchTimer
        interval: page.searchDebounceMs
        onTriggered: page.fetchVlans()
    }
    Timer {
        id: countdownTimer
        interval: page.countdownTickMs
        repeat: true
        running: page.visible && !page.connected && api.loggedIn
        onTriggered: page.countdownTick()
    }
    Timer {
        id: fillTimer
        interval: page.viewportFillDelayMs
        onTriggered: {
            if (vlanList.contentHeight < vlanList.height && !page.vlansLoading && page.hasMoreVlans
                    && page.publicVlansList.length > 0)
                page.loadMoreVlans()
        }
    }
    Timer {
        id: listWatchdog
        interval: page.listReplyTimeoutMs
        onTriggered: {
            if (!page._releaseList())
                page.vlansLoading = false
        }
    }
    Timer {
        id: errorRefetchTimer
        onTriggered: {
            page._lastErrorRefetchMs = Date.now()
            page.fetchVlans()
        }
    }

    // ---- Disconnected view --------------------------------------------------

    Item {
        id: disconnectedView
        objectName: "disconnectedView"
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + Theme.spacingSmall
        visible: !page.connected

        GlassCard {
            id: actionCard
            anchors.left: parent.left
            anchors.top: parent.top
            width: Math.min(380, parent.width * 0.4)
            height: Math.min(parent.height - (motdLine.visible && !page.compactHeight ? motdLine.implicitHeight + Theme.spacing : 0),
                             page.showCreateMode ? 560 : 300)

            Behavior on height { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }

            // Join by code
            ColumnLayout {
                id: joinForm
                anchors.fill: parent
                anchors.margins: Theme.spacingLarge
                spacing: Theme.spacingSmall
                visible: !page.showCreateMode

                CardTitle {
                    text: Lang.joinVlan
                    Layout.fillWidth: true
                }
                SectionLabel {
                    text: Lang.vlanId
                    Layout.topMargin: Theme.spacingSmall
                }
                StyledTextField {
                    id: joinField
                    objectName: "joinField"
                    Layout.fillWidth: true
                    placeholderText: Lang.vlanPlaceholder
                    maximumLength: 6
                    validator: RegularExpressionValidator { regularExpression: /[A-Za-z0-9]{0,6}/ }
                    inputMethodHints: Qt.ImhNoPredictiveText
                    readOnly: api.busy
                    opacity: api.busy ? 0.5 : 1
                    font.family: text.length > 0 ? Theme.monoFont : Lang.bodyFont
                    font.letterSpacing: text.length > 0 ? 2 : 0
                    // Codes are Latin: left to right in both languages.
                    LayoutMirroring.enabled: false
                    horizontalAlignment: text.length > 0 || !Lang.isPersian ? TextInput.AlignLeft : TextInput.AlignRight
                    onAccepted: if (joinButton.enabled) joinButton.clicked()
                }
                PrimaryButton {
                    id: joinButton
                    objectName: "joinButton"
                    Layout.fillWidth: true
                    Layout.topMargin: Theme.spacingSmall
                    text: Lang.joinVlanBtn
                    accent: true
                    loading: api.busy
                    enabled: joinField.text.length === 6 && !api.busy
                    onClicked: api.joinVlan(joinField.text.toUpperCase())
                }
                LinkText {
                    id: toCreateLink
                    objectName: "toCreateLink"
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: Theme.spacingSmall
                    text: Lang.orCreateNew
                    onClicked: page.showCreateMode = true
                }
                Item { Layout.fillHeight: true }
            }

            // Create for a game
            ColumnLayout {
                id: createForm
                anchors.fill: parent
                anchors.margins: Theme.spacingLarge
                spacing: page.compactHeight ? 4 : Theme.spacingSmall
                visible: page.showCreateMode

                CardTitle {
                    text: Lang.createVlan
                    Layout.fillWidth: true
                }
                SectionLabel {
                    text: Lang.selectGame
                    Layout.topMargin: Theme.spacingSmall
                }
                StyledTextField {
                    id: gameSearchField
                    objectName: "gameSearchField"
                    Layout.fillWidth: true
                    implicitHeight: 38
                    padding: 10
                    placeholderText: Lang.searchPlaceholder
                }
                Rectangle {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.minimumHeight: 80
                    radius: Theme.borderRadiusSmall
                    color: Qt.rgba(0, 0, 0, 0.15)
                    border.width: 1
                    border.color: Theme.glassBorder
                    clip: true

                    ListView {
                        id: gameList
                        objectName: "gameList"
                        anchors.fill: parent
                        anchors.margins: 4
                        boundsBehavior: Flickable.StopAtBounds
                        model: {
                            const needle = gameSearchField.text.toLowerCase()
                            return page.gamesList.filter(g => g.game_name.toLowerCase().indexOf(needle) >= 0)
                        }
                        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                        delegate: Rectangle {
                            id: gameRow
                            required property var modelData
                            readonly property bool selected: modelData.id === page.selectedGameId
                            width: ListView.view.width
                            height: 34
                            radius: 8
                            color: selected ? Theme.primaryPurple
                                            : gameMouse.containsMouse ? Theme.glassHover : "transparent"
                            Text {
                                anchors.fill: parent
                                anchors.leftMargin: 12
                                anchors.rightMargin: 12
                                verticalAlignment: Text.AlignVCenter
                                horizontalAlignment: Text.AlignLeft
                                text: gameRow.modelData.game_name
                                textFormat: Text.PlainText
                                elide: Text.ElideRight
                                color: gameRow.selected ? Theme.textWhite : Theme.textPrimary
                                font.family: Lang.bodyFont
                                font.pixelSize: Theme.fontSizeBody
                            }
                            MouseArea {
                                id: gameMouse
                                anchors.fill: parent
                                hoverEnabled: true
                                cursorShape: Qt.PointingHandCursor
                                onClicked: page.selectedGameId = gameRow.modelData.id
                            }
                        }
                    }
                }
                SectionLabel {
                    text: Lang.capacityLabel
                    Layout.topMargin: 4
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.spacingSmall
                    Slider {
                        id: capacitySlider
                        objectName: "capacitySlider"
                        Layout.fillWidth: true
                        from: 2
                        to: 50
                        stepSize: 1
                        snapMode: Slider.SnapAlways
                        value: page.capacityValue
                        onMoved: page.capacityValue = Math.round(value)
                        background: Rectangle {
                            x: capacitySlider.leftPadding
                            y: capacitySlider.topPadding + capacitySlider.availableHeight / 2 - height / 2
                            width: capacitySlider.availableWidth
                            height: 4
                            radius: 2
                            color: Theme.glassHover
                            Rectangle {
                                x: capacitySlider.mirrored ? parent.width - width : 0
                                width: capacitySlider.visualPosition * parent.width
                                    * (capacitySlider.mirrored ? -1 : 1) + (capacitySlider.mirrored ? parent.width : 0)
                                height: parent.height
                                radius: 2
                                color: Theme.primaryPurple
                            }
                        }
                        handle: Rectangle {
                            x: capacitySlider.leftPadding + capacitySlider.visualPosition * (capacitySlider.availableWidth - width)
                            y: capacitySlider.topPadding + capacitySlider.availableHeight / 2 - height / 2
                            width: 16
                            height: 16
                            radius: 8
                            color: Theme.accentLime
                        }
                    }
                    Rectangle {
                        implicitWidth: 46
                        implicitHeight: 30
                        radius: 8
                        color: Theme.glassBg
                        border.width: 1
                        border.color: Theme.glassBorder
                        Text {
                            anchors.centerIn: parent
                            text: Lang.number(page.capacityValue)
                            textFormat: Text.PlainText
                            color: Theme.textWhite
                            font.family: Lang.bodyFont
                            font.pixelSize: Theme.fontSizeBody
                            font.bold: true
                        }
                    }
                }
                CheckBox {
                    id: publicCheck
                    objectName: "publicCheck"
                    checked: true
                    text: Lang.publicVlan
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    indicator: Rectangle {
                        x: publicCheck.mirrored ? publicCheck.width - width - publicCheck.leftPadding : publicCheck.leftPadding
                        y: (publicCheck.height - height) / 2
                        implicitWidth: 18
                        implicitHeight: 18
                        radius: 5
                        color: publicCheck.checked ? Theme.primaryPurple : "transparent"
                        border.width: 1
                        border.color: publicCheck.checked ? Theme.primaryPurple : Theme.textDimmed
                        Text {
                            anchors.centerIn: parent
                            visible: publicCheck.checked
                            text: "\u2713"
                            color: Theme.textWhite
                            font.pixelSize: 12
                        }
                    }
                    contentItem: Text {
                        leftPadding: publicCheck.mirrored ? 0 : publicCheck.indicator.width + publicCheck.spacing
                        rightPadding: publicCheck.mirrored ? publicCheck.indicator.width + publicCheck.spacing : 0
                        text: publicCheck.text
                        textFormat: Text.PlainText
                        color: Theme.textPrimary
                        font: publicCheck.font
                        verticalAlignment: Text.AlignVCenter
                    }
                }
                PrimaryButton {
                    id: createButton
                    objectName: "createButton"
                    Layout.fillWidth: true
                    text: Lang.createBtn
                    accent: true
                    loading: api.busy
                    enabled: page.selectedGameId > 0 && !api.busy
                    onClicked: api.createVlan(page.selectedGameId, page.capacityValue, !publicCheck.checked)
                }
                LinkText {
                    id: backLink
                    objectName: "backLink"
                    Layout.alignment: Qt.AlignHCenter
                    text: Lang.backToJoin
                    onClicked: page.showCreateMode = false
                }
            }
        }

        // Public rooms
        GlassCard {
            id: publicCard
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.bottomMargin: motdLine.visible ? motdLine.implicitHeight + Theme.spacing : 0
            anchors.left: actionCard.right
            anchors.leftMargin: Theme.spacing
            anchors.right: parent.right

            GridLayout {
                id: listHeader
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: Theme.spacing
                height: page.compactList ? 38 + Theme.spacingSmall + 36 : 38
                columnSpacing: Theme.spacingSmall
                rowSpacing: Theme.spacingSmall

                CardTitle {
                    Layout.row: 0
                    Layout.column: 0
                    text: Lang.publicVlans
                }
                CountBadge {
                    Layout.row: 0
                    Layout.column: 1
                    count: page.publicVlansTotal
                    tone: Theme.primaryPurple
                    textColor: Theme.textWhite
                }
                Item { Layout.row: 0; Layout.column: 2; Layout.fillWidth: true }
                Text {
                    id: countdownText
                    objectName: "countdownText"
                    Layout.row: 0
                    Layout.column: 3
                    visible: countdownTimer.running && !page.vlansLoading
                    text: Lang.refreshIn + " " + Lang.quantity(page.refreshCountdown, "s")
                    textFormat: Text.PlainText
                    color: Theme.textDimmed
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeSmall
                }
                StyledTextField {
                    id: searchField
                    objectName: "searchField"
                    Layout.row: page.compactList ? 1 : 0
                    Layout.column: page.compactList ? 0 : 4
                    Layout.columnSpan: page.compactList ? 5 : 1
                    Layout.fillWidth: page.compactList
                    Layout.preferredWidth: Math.min(240, publicCard.width * 0.35)
                    implicitHeight: 36
                    padding: 10
                    placeholderText: Lang.searchPlaceholder
                    maximumLength: 50
                    onTextChanged: {
                        if (page.searchQuery === text)
                            return
                        page.searchQuery = text
                        searchTimer.restart()
                    }
                }
                IconButton {
                    id: refreshButton
                    objectName: "refreshButton"
                    Layout.row: 0
                    Layout.column: page.compactList ? 4 : 5
                    source: "qrc:/icons/refresh.svg"
                    tip: ""
                    spinning: page.vlansLoading
                    onClicked: if (!page.vlansLoading) page.fetchVlans()
                }
            }

            // Column titles
            RowLayout {
                id: columns
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: listHeader.bottom
                anchors.topMargin: Theme.spacingSmall
                anchors.leftMargin: Theme.spacing + 12
                anchors.rightMargin: Theme.spacing + 12
                height: 24
                spacing: 12
                ColumnTitle {
                    text: page.compactList ? Lang.username + " / " + Lang.gameColumn : Lang.username
                    Layout.preferredWidth: 1
                    Layout.fillWidth: true
                }
                ColumnTitle { text: Lang.gameColumn; Layout.preferredWidth: 1; Layout.fillWidth: true; visible: !page.compactList }
                ColumnTitle { text: Lang.capacity; Layout.preferredWidth: page.compactList ? 54 : 110 }
                Item { Layout.preferredWidth: page.compactList ? 64 : 84 }
            }
            Rectangle {
                anchors.top: columns.bottom
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.leftMargin: Theme.spacing
                anchors.rightMargin: Theme.spacing
                height: 1
                color: Theme.glassBorder
            }

            ListView {
                id: vlanList
                reuseItems: true
                anchors.top: columns.bottom
                anchors.topMargin: 4
                anchors.bottom: parent.bottom
                anchors.bottomMargin: Theme.spacingSmall
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.leftMargin: Theme.spacing
                anchors.rightMargin: Theme.spacing
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                model: page.publicVlansList
                visible: !(page.vlansLoading && page.publicVlansList.length === 0)
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                delegate: VlanRow {}
                footer: Item {
                    width: ListView.view ? ListView.view.width : 0
                    height: page.vlansLoading && page.publicVlansList.length > 0 ? 44 : 0
                    BusySpinner {
                        anchors.centerIn: parent
                        width: 20
                        height: 20
                        visible: parent.height > 0
                        color: Theme.accentLime
                    }
                }
                onContentYChanged: page._checkEndReached()
                onContentHeightChanged: fillTimer.restart()
                onHeightChanged: fillTimer.restart()
            }

            // Placeholder rows while the first page loads into an empty list
            Column {
                id: skeleton
                objectName: "skeleton"
                anchors.fill: vlanList
                visible: page.vlansLoading && page.publicVlansList.length === 0
                spacing: 0
                Repeater {
                    model: 5
                    Item {
                        width: skeleton.width
                        height: 50
                        Rectangle {
                            anchors.fill: parent
                            anchors.topMargin: 6
                            anchors.bottomMargin: 6
                            radius: 8
                            color: Theme.glassBg
                            SequentialAnimation on opacity {
                                running: skeleton.visible
                                loops: Animation.Infinite
                                NumberAnimation { from: 1; to: 0.3; duration: 800 }
                                NumberAnimation { from: 0.3; to: 1; duration: 800 }
                            }
                        }
                    }
                }
            }

            Text {
                id: noResultsText
                objectName: "noResultsText"
                anchors.centerIn: vlanList
                visible: page.publicVlansTotal === 0 && !page.vlansLoading
                text: Lang.noResults
                textFormat: Text.PlainText
                color: Theme.textDimmed
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
            }
        }

        MotdText {
            id: motdLine
            objectName: "motdLine"
            anchors.bottom: parent.bottom
            anchors.horizontalCenter: page.compactHeight ? publicCard.horizontalCenter : parent.horizontalCenter
            width: page.compactHeight ? publicCard.width : parent.width
            visible: page.motdText !== "" && !page.connected && !page.connecting && !api.busy
        }
    }

    // ---- Connected view -----------------------------------------------------

    Item {
        id: connectedView
        objectName: "connectedView"
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + Theme.spacingSmall
        visible: page.connected
        opacity: page.disconnectConfirmBusy ? 0.4 : 1
        Behavior on opacity { NumberAnimation { duration: 300 } }

        readonly property string status: api.vpnStatus

        Text {
            id: roomTitle
            objectName: "roomTitle"
            anchors.top: parent.top
            anchors.left: parent.left
            anchors.right: parent.right
            text: api.connectedVlanName !== "" ? api.connectedVlanName : Lang.lanConnection
            textFormat: Text.PlainText
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignLeft
            color: Theme.textWhite
            font.family: Lang.titleFont
            font.pixelSize: Theme.fontSizeTitle
            font.bold: true
        }

        GlassCard {
            id: statusCard
            anchors.top: roomTitle.bottom
            anchors.topMargin: Theme.spacing
            anchors.left: parent.left
            width: Math.min(420, parent.width * 0.42)
            height: statusColumn.implicitHeight + 2 * Theme.spacingLarge

            ColumnLayout {
                id: statusColumn
                anchors.fill: parent
                anchors.margins: Theme.spacingLarge
                spacing: 14

                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.spacingSmall
                    StatusBadge {
                        id: statusBadge
                        objectName: "statusBadge"
                        label: connectedView.status !== "" && connectedView.status !== "ready"
                               ? page.vpnStatusText(connectedView.status) : Lang.connected
                        active: connectedView.status === "ready" || connectedView.status === ""
                        warning: page.isReconnecting
                    }
                    Item { Layout.fillWidth: true }
                    PrimaryButton {
                        id: leaveButton
                        objectName: "leaveButton"
                        implicitWidth: 130
                        implicitHeight: 34
                        text: page.isReconnecting ? Lang.cancel : Lang.disconnect
                        buttonColor: Theme.errorColor
                        enabled: connectedView.status !== "disconnecting"
                        onClicked: {
                            if (page.isReconnecting)
                                api.disconnectVlan()
                            else
                                page.disconnectRequested()
                        }
                    }
                }
                // Why the tunnel keeps failing while it retries.
                Text {
                    id: reconnectError
                    objectName: "reconnectError"
                    Layout.fillWidth: true
                    visible: page.isReconnecting && api.vpnLastError !== ""
                    text: api.vpnLastError
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    maximumLineCount: 4
                    elide: Text.ElideRight
                    horizontalAlignment: Text.AlignLeft
                    color: Theme.textPrimary
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeSmall
                }
                InfoRow {
                    label: Lang.vlanId
                    value: api.connectedVlanId
                    mono: true
                    copyTip: Lang.copyVlanId
                    onCopyClicked: page._copy(api.connectedVlanId)
                }
                InfoRow {
                    id: ipRow
                    objectName: "ipRow"
                    visible: api.vpnIp !== "" && connectedView.status === "ready"
                    label: Lang.vpnIpLabel
                    value: api.vpnIp
                    mono: true
                    copyTip: Lang.copyVpnIp
                    onCopyClicked: page._copy(api.vpnIp)
                }
                InfoRow {
                    id: durationRow
                    objectName: "durationRow"
                    label: Lang.connectedFor
                    value: Lang.number(page.formatDuration(api.connectedSeconds))
                    mono: !Lang.isPersian
                }
            }
        }

        GlassCard {
            id: membersCard
            anchors.top: roomTitle.bottom
            anchors.topMargin: Theme.spacing
            anchors.left: statusCard.right
            anchors.leftMargin: Theme.spacing
            anchors.right: parent.right
            anchors.bottom: connectedMotd.visible ? connectedMotd.top : parent.bottom
            anchors.bottomMargin: connectedMotd.visible ? Theme.spacing : 0

            RowLayout {
                id: membersHeader
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: Theme.spacing
                height: 34
                spacing: Theme.spacingSmall
                CardTitle {
                    text: Lang.connectedPeers
                }
                CountBadge {
                    count: page.connectedUsers.length
                    tone: Theme.accentLime
                    fill: 0.16
                    textColor: Theme.accentLime
                }
                Item { Layout.fillWidth: true }
                IconButton {
                    id: sortButton
                    objectName: "sortButton"
                    source: "qrc:/icons/sort.svg"
                    tip: page.usersSortAlpha ? Lang.sortJoinOrder : Lang.sortAlphabetical
                    highlighted: page.usersSortAlpha
                    onClicked: page.usersSortAlpha = !page.usersSortAlpha
                }
            }

            ListView {
                id: usersList
                objectName: "memberList"
                anchors.top: membersHeader.bottom
                anchors.topMargin: Theme.spacingSmall
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: Theme.spacingSmall
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                model: page.displayedUsers
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                delegate: UserListItem {
                    required property var modelData
                    required property int index
                    objectName: "member" + index
                    width: ListView.view.width
                    height: 52
                    username: modelData.username
                    assignedIp: modelData.assignedIp
                    isAdmin: modelData.isAdmin
                    isOwner: api.connectedVlanOwner !== "" && api.connectedVlanOwner === modelData.username
                    onIpCopied: ip => { if (page.toast) page.toast.success(Lang.isPersian ? "کپی شد" : "Copied " + ip) }
                }
                // A wheel turn flicks the list, three times the wheel's step.
                MouseArea {
                    anchors.fill: parent
                    acceptedButtons: Qt.NoButton
                    onWheel: wheel => {
                        usersList.flick(0, wheel.angleDelta.y * 3)
                        wheel.accepted = true
                    }
                }
            }
            Text {
                id: aloneText
                objectName: "aloneText"
                anchors.centerIn: usersList
                visible: page.connectedUsers.length <= 1
                text: Lang.isPersian ? "فقط شما اینجایید" : "Just you here"
                textFormat: Text.PlainText
                color: Theme.textDimmed
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
            }
        }

        MotdText {
            id: connectedMotd
            objectName: "connectedMotd"
            anchors.bottom: parent.bottom
            anchors.left: membersCard.left
            anchors.right: parent.right
            visible: page.motdText !== ""
        }
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

    // ---- Local pieces -------------------------------------------------------

    component VlanRow: Item {
        id: row
        required property var modelData
        required property int index
        readonly property bool full: modelData.players >= modelData.capacity
        width: ListView.view ? ListView.view.width : 0
        height: 50

        Rectangle {
            anchors.fill: parent
            anchors.topMargin: 3
            anchors.bottomMargin: 3
            radius: 8
            color: rowHover.hovered ? Theme.glassHover : "transparent"
        }
        HoverHandler { id: rowHover }

        GridLayout {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            columnSpacing: 12
            rowSpacing: 0
            Text {
                objectName: "rowOwner" + row.index
                Layout.row: 0
                Layout.column: 0
                Layout.alignment: page.compactList ? Qt.AlignLeft | Qt.AlignBottom : Qt.AlignLeft | Qt.AlignVCenter
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: row.modelData.username
                textFormat: Text.PlainText
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignLeft
                color: Theme.textPrimary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
                font.bold: true
            }
            // Under the owner in a narrow list.
            Text {
                objectName: "rowGame" + row.index
                Layout.row: page.compactList ? 1 : 0
                Layout.column: page.compactList ? 0 : 1
                Layout.alignment: page.compactList ? Qt.AlignLeft | Qt.AlignTop : Qt.AlignLeft | Qt.AlignVCenter
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                text: row.modelData.gameName
                textFormat: Text.PlainText
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignLeft
                color: Theme.textSecondary
                font.family: Lang.bodyFont
                font.pixelSize: page.compactList ? Theme.fontSizeSmall : Theme.fontSizeBody
            }
            Row {
                Layout.row: 0
                Layout.column: page.compactList ? 1 : 2
                Layout.rowSpan: page.compactList ? 2 : 1
                Layout.preferredWidth: page.compactList ? 54 : 110
                spacing: 8
                Text {
                    objectName: "rowPlayers" + row.index
                    // A fixed width lines the bars up under each other.
                    width: 54
                    elide: Text.ElideRight
                    anchors.verticalCenter: parent.verticalCenter
                    text: Lang.number(row.modelData.players + "/" + row.modelData.capacity)
                    textFormat: Text.PlainText
                    // Set, not left to the digits: only a set alignment follows the mirroring,
                    // so the figures share their edge with the column's title in Persian too.
                    horizontalAlignment: Text.AlignLeft
                    color: row.full ? Theme.errorColor : Theme.accentLime
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    font.bold: true
                }
                Rectangle {
                    visible: !page.compactList
                    anchors.verticalCenter: parent.verticalCenter
                    width: 40
                    height: 4
                    radius: 2
                    color: Theme.glassHover
                    Rectangle {
                        anchors.left: parent.left
                        height: parent.height
                        radius: 2
                        width: parent.width * (row.modelData.capacity > 0
                                               ? Math.min(1, row.modelData.players / row.modelData.capacity) : 1)
                        color: row.full ? Theme.errorColor : Theme.accentLime
                    }
                }
            }
            PrimaryButton {
                objectName: "rowJoin" + row.index
                Layout.row: 0
                Layout.column: page.compactList ? 2 : 3
                Layout.rowSpan: page.compactList ? 2 : 1
                Layout.preferredWidth: page.compactList ? 64 : 84
                implicitHeight: 32
                text: Lang.joinBtn
                loading: api.busy
                enabled: (!row.full || api.isAdmin) && !page.vlansLoading && !api.busy
                onClicked: api.joinVlan(row.modelData.id)
            }
        }
    }

    component CardTitle: Text {
        textFormat: Text.PlainText
        elide: Text.ElideRight
        color: Theme.textWhite
        font.family: Lang.titleFont
        font.pixelSize: Theme.fontSizeHeading
        font.bold: true
    }

    component SectionLabel: Text {
        textFormat: Text.PlainText
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.bold: true
        font.letterSpacing: Lang.isPersian ? 0 : 0.6
    }

    component CountBadge: Rectangle {
        property int count: 0
        property color tone: Theme.primaryPurple
        property real fill: 0.35
        property alias textColor: countText.color
        implicitWidth: Math.max(24, countText.implicitWidth + 14)
        implicitHeight: 22
        radius: 11
        color: Qt.rgba(tone.r, tone.g, tone.b, fill)
        Text {
            id: countText
            anchors.centerIn: parent
            text: Lang.number(parent.count)
            textFormat: Text.PlainText
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeSmall
            font.bold: true
        }
    }

    component MotdText: Text {
        text: page.motdText
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
        color: Theme.textWhite
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeCaption
    }

    component ColumnTitle: Text {
        textFormat: Text.PlainText
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignLeft
        color: Theme.textDimmed
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeCaption
        font.bold: true
        font.letterSpacing: Lang.isPersian ? 0 : 0.6
    }

    component LinkText: Text {
        id: link
        signal clicked()
        textFormat: Text.PlainText
        color: linkMouse.containsMouse ? Theme.accentLime : Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.underline: linkMouse.containsMouse
        MouseArea {
            id: linkMouse
            anchors.fill: parent
            anchors.margins: -4
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: link.clicked()
        }
    }

    component IconButton: Rectangle {
        id: iconButton
        property alias source: icon.source
        property string tip: ""
        property bool spinning: false
        property bool highlighted: false
        signal clicked()
        implicitWidth: 34
        implicitHeight: 34
        radius: 10
        color: iconMouse.containsMouse || highlighted ? Theme.glassHover : Theme.glassBg
        border.width: 1
        border.color: Theme.glassBorder
        Image {
            id: icon
            anchors.centerIn: parent
            width: 16
            height: 16
            sourceSize: Qt.size(32, 32)
            RotationAnimator on rotation {
                from: 0
                to: 360
                duration: 800
                loops: Animation.Infinite
                running: iconButton.spinning
                onRunningChanged: if (!running) icon.rotation = 0
            }
        }
        MouseArea {
            id: iconMouse
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: iconButton.clicked()
        }
        AppToolTip {
            visible: iconButton.tip !== "" && iconMouse.containsMouse
            text: iconButton.tip
        }
    }

    component InfoRow: RowLayout {
        id: info
        property string label: ""
        property string value: ""
        property bool mono: false
        property string copyTip: ""
        signal copyClicked()
        spacing: Theme.spacingSmall
        Layout.fillWidth: true
        Text {
            text: info.label + ":"
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
        }
        Text {
            Layout.fillWidth: true
            text: info.value
            textFormat: Text.PlainText
            elide: Text.ElideRight
            // Beside its label on the reading side; a code or an address still reads
            // left to right, as its own characters decide.
            horizontalAlignment: Text.AlignLeft
            color: Theme.textWhite
            font.family: info.mono ? Theme.monoFont : Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
        IconButton {
            visible: info.copyTip !== ""
            implicitWidth: 28
            implicitHeight: 28
            source: "qrc:/icons/copy.svg"
            tip: info.copyTip
            onClicked: info.copyClicked()
        }
    }
}
