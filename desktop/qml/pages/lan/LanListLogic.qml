import QtQuick

// The public room list without its looks: the request on the wire and the one
// queued behind it, paging, the refresh countdown, the watchdog of a reply that
// never comes and the paced re-fetch after an error. The panel hands it its
// ListView; the page says when the list is in sight.
Item {
    id: logic

    // The list the rows are shown in: kept in place on a refresh, filled, paged at its end.
    property ListView listView: null
    // The list is in sight (the page shown, no room open): only then does it refresh itself.
    property bool active: false

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

    property var publicVlansList: []
    property int publicVlansTotal: 0
    property string searchQuery: ""
    property int currentPage: 0
    readonly property int itemsPerPage: 10
    property bool vlansLoading: false
    property bool hasMoreVlans: true
    property bool preserveScrollOnNextLoad: false
    property int refreshCountdown: refreshSeconds
    readonly property bool countingDown: countdownTimer.running

    // The list request on the wire and the newer one waiting behind it. One at a
    // time, because a reply does not say which search it answers.
    property var _listInFlight: null
    property var _listQueued: null
    // The search the shown rows answer; further pages must match it, not a newer one still being typed.
    property string _shownSearch: ""
    property double _lastErrorRefetchMs: 0

    // "Sam (Dota 2)" -> owner "Sam", game "Dota 2"; any other shape is all owner.
    function splitVlanName(name) {
        const text = name === undefined || name === null ? "" : String(name)
        const at = text.lastIndexOf(" (")
        if (at > 0 && text.endsWith(")"))
            return { username: text.substring(0, at), gameName: text.substring(at + 2, text.length - 1) }
        return { username: text, gameName: "" }
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

    // The player's refresh: nothing while a page is still loading.
    function refresh() {
        if (!vlansLoading)
            fetchVlans()
    }

    // A changed search goes out once the typing pauses.
    function search(text) {
        if (searchQuery === text)
            return
        searchQuery = text
        searchTimer.restart()
    }

    function clearSearch() {
        searchQuery = ""
        searchTimer.stop()
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
            const y = listView.contentY
            publicVlansList = rows
            if (keep) {
                listView.forceLayout()
                listView.contentY = Math.max(listView.originY,
                                             Math.min(y, listView.originY + listView.contentHeight - listView.height))
            } else {
                listView.positionViewAtBeginning()
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
        if (active && listView.contentY - listView.originY <= 500)
            autoRefreshVlans()
    }

    function _checkEndReached() {
        if (vlansLoading || !hasMoreVlans || publicVlansList.length === 0)
            return
        if (listView.contentY + listView.height >= listView.originY + listView.contentHeight - 50)
            loadMoreVlans()
    }

    // Signed out: no request is waited for, no row or search of the session stays.
    function forget() {
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
        clearSearch()
        refreshCountdown = refreshSeconds
    }

    Connections {
        target: api
        function onRequestError(message) {
            // The failure may be the list's own; either way nothing is waited for any more.
            // No further pages until page 0 loads again: a failed page must not be asked
            // for again at once by the endless scrolling or the viewport fill.
            if (logic._listInFlight)
                logic.hasMoreVlans = false
            logic._listQueued = null
            logic._releaseList()
            logic.vlansLoading = false
            logic._refetchAfterError()
        }
        function onVlansReceived(items, total, replyPage, totalPages) {
            logic._takeVlans(items, total, replyPage, totalPages)
        }
    }

    Connections {
        target: logic.listView
        function onContentYChanged() { logic._checkEndReached() }
        function onContentHeightChanged() { fillTimer.restart() }
        function onHeightChanged() { fillTimer.restart() }
    }

    Timer {
        id: searchTimer
        interval: logic.searchDebounceMs
        onTriggered: logic.fetchVlans()
    }
    Timer {
        id: countdownTimer
        interval: logic.countdownTickMs
        repeat: true
        running: logic.active && api.loggedIn
        onTriggered: logic.countdownTick()
    }
    Timer {
        id: fillTimer
        interval: logic.viewportFillDelayMs
        onTriggered: {
            if (logic.listView.contentHeight < logic.listView.height && !logic.vlansLoading && logic.hasMoreVlans
                    && logic.publicVlansList.length > 0)
                logic.loadMoreVlans()
        }
    }
    Timer {
        id: listWatchdog
        interval: logic.listReplyTimeoutMs
        onTriggered: {
            if (!logic._releaseList())
                logic.vlansLoading = false
        }
    }
    Timer {
        id: errorRefetchTimer
        onTriggered: {
            logic._lastErrorRefetchMs = Date.now()
            logic.fetchVlans()
        }
    }
}
