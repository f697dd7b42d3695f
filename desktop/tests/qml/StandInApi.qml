import QtQuick

// Stands in for `api` where a test needs states the real client only reaches
// through a live session: same property, invokable and signal names. Every call
// is recorded in `calls` as { name, args }.
QtObject {
    id: stand
    property string baseUrl: "http://127.0.0.1:1"
    property string lang: ""
    property string username: ""
    property bool isAdmin: false
    property bool busy: false
    property bool loggedIn: false
    property bool connected: false
    property string connectedVlanId: ""
    property string connectedVlanName: ""
    property string connectedVlanOwner: ""
    property int connectedSeconds: 0
    property string vpnStatus: ""
    property string vpnIp: ""
    property string vpnLastError: ""
    property string storedRefreshToken: ""
    property bool discordOn: true
    property int forwardPort: 0
    property var calls: []

    signal tickChanged()
    signal tokenRotated()
    signal loginSuccess(string username)
    signal registerSuccess(string username)
    signal refreshSuccess()
    signal logoutDone()
    signal authRequired()
    signal requestError(string message)
    signal gamesReceived(var items)
    signal dedicatedGamesReceived(var items)
    signal dedicatedGameServersReceived(string gameId, var items)
    signal dedicatedUdpForwardStarted(int localPort)
    signal dedicatedUdpForwardStopped()
    signal vlansReceived(var items, int total, int page, int totalPages)
    signal motdReceived(string message)
    signal joinSuccess(string vlanId, string name, string serverAddress)
    signal createSuccess(string vlanId, string name, string serverAddress)
    signal vpnCrashed()
    signal disconnectSuccess()
    signal usersUpdated(var users, int playerCount)
    signal vlanEvent(string type, string username)
    signal userIpAssigned(string username, string assignedIp)
    signal passwordChanged(string message)
    signal usernameChangedRemote(string newUsername)
    signal avatarReceived(string username, string absoluteUrl, string rotatedAt)
    signal avatarFetchFailed(string username)
    signal avatarFetchCancelled(string username)
    signal pfpListReceived(var items)
    signal avatarChangeSuccess(int imageId, string absoluteUrl)
    signal avatarChangeCooldown(int secondsRemaining)
    signal meReceived(string username, string avatarRotatedAt, string usernameChangedAt, bool isAdmin)
    signal announcementsReceived(var items)

    function record(name, args) {
        calls.push({ name: name, args: Array.prototype.slice.call(args) })
        callsChanged()
    }
    function callsTo(name) { return calls.filter(c => c.name === name) }
    function clearCalls() { calls = [] }

    function login(u, p) { record("login", arguments) }
    function registerUser(e, u, p) { record("registerUser", arguments) }
    function refresh(t) { record("refresh", arguments) }
    function logout() { record("logout", arguments) }
    function fetchPublicVlans(page, size, search) { record("fetchPublicVlans", arguments) }
    function fetchMotd() { record("fetchMotd", arguments) }
    function joinVlan(id) { record("joinVlan", arguments) }
    function fetchGames() { record("fetchGames", arguments) }
    function fetchDedicatedGames() { record("fetchDedicatedGames", arguments) }
    function fetchDedicatedGameServers(id) { record("fetchDedicatedGameServers", arguments) }
    function createVlan(gameId, capacity, isPrivate) { record("createVlan", arguments) }
    function disconnectVlan() { record("disconnectVlan", arguments) }
    function copyToClipboard(text) { record("copyToClipboard", arguments) }
    function changePassword(o, n) { record("changePassword", arguments) }
    function changeUsername(n, p) { record("changeUsername", arguments) }
    function fetchAvatar(name) { record("fetchAvatar", arguments) }
    function fetchPfpList() { record("fetchPfpList", arguments) }
    function setMyAvatar(id) { record("setMyAvatar", arguments) }
    function fetchMe() { record("fetchMe", arguments) }
    function fetchAnnouncements() { record("fetchAnnouncements", arguments) }
    function refreshToken() { return storedRefreshToken }
    function setDiscordEnabled(on) { record("setDiscordEnabled", arguments); discordOn = on }
    function discordEnabled() { return discordOn }
    function startDedicatedUdpForward(address, port) { record("startDedicatedUdpForward", arguments); return forwardPort }
    function stopDedicatedUdpForward() { record("stopDedicatedUdpForward", arguments) }
}
