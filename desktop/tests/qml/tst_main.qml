import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/theme"

// The root window: start states, proceedToAuth, the central handling of api's
// signals (against the real client and testing/service), dialogs, keys, tray.
CorvanaTestCase {
    id: testCase
    name: "Main"

    property var realApi: null
    StandInApi { id: standIn }
    SignalSpy { id: requestErrors; target: realApi; signalName: "requestError" }
    SignalSpy { id: refreshes; target: realApi; signalName: "refreshSuccess" }
    SignalSpy { id: announcements; target: realApi; signalName: "announcementsReceived" }

    function initTestCase() { realApi = api }

    function init() {
        testHost.clearSettings()
        testHost.use("api", realApi)
        // Each test starts signed out, so no earlier session's tokens rotate under it.
        if (realApi.loggedIn) {
            realApi.logout()
            tryVerify(() => !realApi.loggedIn, 10000)
        }
        standIn.clearCalls()
        standIn.connected = false
        standIn.busy = false
        standIn.username = ""
        updater.lang = ""
        tray.messages = []
        Lang.current = ""
    }

    function cleanup() {
        // Each window goes with its test, so what its teardown says is that test's.
        for (const w of openWindows) {
            if (w && typeof w.destroy === "function")
                w.destroy()
        }
        openWindows = []
        wait(0)
        Lang.current = ""
        checkWarnings()
    }

    property var openWindows: []

    // The window belongs to the test case, as the program's belongs to its engine. One
    // that nothing owns is the JS heap's to collect once let go of: a collection before its
    // deletion takes the properties and functions of its pages and panels, and any event
    // that still reaches it then meets them as null.
    function newWindow(settings) {
        testHost.clearSettings()
        for (const key in settings)
            testHost.setSetting(key, settings[key])
        const component = Qt.createComponent("qrc:/qml/Main.qml")
        compare(component.status, Component.Ready, component.errorString())
        const window = component.createObject(testCase, { tutorialDelayMs: 10, trayNoticeDelayMs: 10 })
        verify(window !== null)
        return window
    }

    function openWindow(settings) {
        const window = newWindow(settings)
        openWindows.push(window)
        return window
    }

    function toastTexts(window) { return window.toast.texts() }

    // A window let go of lives on until its deletion at the next turn of the event loop;
    // what reaches it meanwhile (here a change of language) must find its pages and panels
    // whole, whatever the collector of the JS heap did in between.
    function test_a_window_let_go_stays_whole() {
        (() => newWindow({ savedLang: "en" }).destroy())()
        gc()
        Lang.current = "fa"
        wait(0)
    }

    function test_start_states() {
        let w = openWindow({})
        compare(w.appState, "lang")
        compare(updater.lang, "en")
        // The bundled family is loaded by the window itself, never left to the machine.
        verify(Qt.fontFamilies().indexOf(Lang.persianFont) >= 0, Lang.persianFont + " is not loaded")
        w.destroy()
        wait(0)
        w = openWindow({ savedLang: "fa", savedRefreshToken: "tok" })
        compare(w.appState, "loading")
        compare(Lang.current, "fa")
        compare(api.lang, "fa")
        compare(updater.lang, "fa")
        w.destroy()
        wait(0)
        w = openWindow({ savedLang: "en" })
        compare(w.appState, "login")
        // A returning player's view stands from the first frame: no fade from the language view.
        compare(w.loginPage.parent.opacity, 1)
    }

    function test_proceed_to_auth() {
        testHost.use("api", standIn)
        let w = openWindow({ savedLang: "en", savedRefreshToken: "tok-1", savedUsername: "sam" })
        compare(standIn.callsTo("refresh").length, 0, "nothing before the update check passes")
        updater.noUpdateAvailable()
        compare(standIn.username, "sam", "the name is set before the refresh goes out")
        compare(standIn.callsTo("refresh")[0].args, ["tok-1"])
        w.destroy()
        wait(0)

        standIn.clearCalls()
        w = openWindow({ savedLang: "en", savedUsername: "sam" })
        const field = findChild(w.loginPage, "loginUsername")
        compare(field.text, "", "not prefilled before the check")
        updater.noUpdateAvailable()
        compare(field.text, "sam")
        compare(standIn.callsTo("refresh").length, 0)
        w.destroy()
        wait(0)

        standIn.clearCalls()
        w = openWindow({ savedLang: "en" })
        updater.noUpdateAvailable()
        compare(standIn.calls.filter(c => c.name === "refresh" || c.name === "login").length, 0)
        compare(findChild(w.loginPage, "loginUsername").text, "")
    }

    function test_sign_in_roads_against_the_service() {
        const w = openWindow({ savedLang: "en" })
        const s = w.settingsStore
        // Toasts stay, so the texts are every toast shown.
        w.toast.stayMs = 600000
        // The LAN page's waits, shortened: a second here stands for 20 pauses after an
        // error (5 s each) and 6 refreshes of the list (30 s each).
        w.lanPage.errorRefetchPauseMs = 50
        w.lanPage.countdownTickMs = 5
        testHost.resetService()
        requestErrors.clear()
        updater.noUpdateAvailable()

        // A wrong password: the service's text as one toast, the form kept, and while
        // signed out nothing asks for the public list, whose refusal would be a toast.
        findChild(w.loginPage, "loginUsername").text = "demo"
        findChild(w.loginPage, "loginPassword").text = "wrong-password"
        w.handleReturn()
        requestErrors.wait(10000)
        wait(1000)
        compare(toastTexts(w), ["Invalid username or password"])
        compare(requestErrors.count, 1)
        compare(testHost.requestsTo("/api/vlans").length, 0)
        compare(w.appState, "login")
        compare(findChild(w.loginPage, "loginUsername").text, "demo")

        // Login without Remember me: the name is kept, the token is not.
        findChild(w.loginPage, "loginPassword").text = "demo1234"
        w.handleReturn()
        tryCompare(w, "appState", "main", 10000)
        // Signed in, the list is asked for again.
        tryVerify(() => testHost.requestsTo("/api/vlans").length > 0, 10000)
        compare(s.savedUsername, "demo")
        compare(s.savedRefreshToken, "")
        verify(toastTexts(w).indexOf("Login successful") >= 0)
        compare(findChild(w.loginPage, "loginUsername").text, "", "the form is cleared")
        tryVerify(() => testHost.requestsTo("/api/auth/me").length > 0, 10000)
        verify(testHost.requestsTo("/api/auth/announcements").length > 0)
        verify(testHost.requestsTo("/api/auth/games").length > 0)
        // The tutorial starts once, after the first sign-in.
        tryVerify(() => w.tutorialOverlay.visible, 5000)
        w.handleEscape()
        verify(s.tutorialDone)
        // The tour fades out before it hides.
        tryVerify(() => !w.tutorialOverlay.visible, 2000)

        // A later token rotation stores a token after all.
        api.tokenRotated()
        verify(s.savedRefreshToken.length > 0)

        // Logout through the service: back to login, nothing saved.
        api.logout()
        tryCompare(w, "appState", "login", 10000)
        compare(s.savedUsername, "")
        compare(s.savedRefreshToken, "")

        // A refresh the service refuses: session expired.
        api.refresh("not-a-token")
        tryVerify(() => toastTexts(w).indexOf("Your session has expired, please login again") >= 0, 10000)
        compare(w.appState, "login")
        compare(s.savedRefreshToken, "")

        // Login with Remember me keeps the token; no tutorial the second time.
        findChild(w.loginPage, "loginUsername").text = "demo"
        findChild(w.loginPage, "loginPassword").text = "demo1234"
        w.loginPage.rememberChecked = true
        w.handleReturn()
        tryCompare(w, "appState", "main", 10000)
        verify(s.savedRefreshToken.length > 0)
        verify(!w.loginPage.rememberChecked, "the box is unticked for the next login")
        wait(100)
        verify(!w.tutorialOverlay.visible)
        // A refresh that succeeds stays in the main state without a toast, keeping the new token.
        const before = toastTexts(w)
        const kept = s.savedRefreshToken
        refreshes.clear()
        api.refresh(s.savedRefreshToken)
        refreshes.wait(10000)
        wait(300)
        compare(w.appState, "main")
        compare(toastTexts(w), before)
        verify(s.savedRefreshToken.length > 0 && s.savedRefreshToken !== kept, "the rotated token is saved")
    }

    function signIn(w, name, password) {
        findChild(w.loginPage, "loginUsername").text = name
        findChild(w.loginPage, "loginPassword").text = password
        w.handleReturn()
        tryCompare(w, "appState", "main", 10000)
    }

    // The first sign-in's tour holds the announcement pop-up back until it is over.
    function test_tour_holds_the_announcement() {
        testHost.call("POST", "/test/announce", { clear: true, title: "Weekend tournament", body: "Teams of five." })
        const w = openWindow({ savedLang: "en" })
        updater.noUpdateAvailable()
        announcements.clear()
        signIn(w, "demo", "demo1234")
        tryVerify(() => w.tutorialOverlay.visible, 5000)
        tryVerify(() => announcements.count > 0, 10000)
        wait(400) // a pop-up would be up and faded in by now
        verify(!w.announceOverlay.visible, "the pop-up shows under the tour")
        w.handleEscape()
        verify(!w.announceOverlay.visible, "the pop-up shows while the tour fades")
        tryVerify(() => !w.tutorialOverlay.visible, 2000)
        tryVerify(() => w.announceOverlay.visible, 2000)
        compare(w.announceOverlay.title, "Weekend tournament")
        w.announceOverlay.hide()
        tryVerify(() => !w.announceOverlay.visible, 2000)
        api.fetchAnnouncements()
        announcements.wait(10000)
        verify(!w.announceOverlay.visible, "once per run")
        testHost.call("POST", "/test/announce", { clear: true, title: "Welcome", body: "Servers are up." })
    }

    // Each sign-in, whoever it is and however the last session ended, shows its own
    // list and message of the day: the service's message names the player.
    function test_each_sign_in_starts_afresh() {
        for (const name of ["alice", "bob"])
            testHost.call("POST", "/api/auth/register", { email: name + "@example.com", username: name, password: name + "-pw1" })
        const w = openWindow({ savedLang: "en", tutorialDone: true })
        const lan = w.lanPage
        updater.noUpdateAvailable()
        signIn(w, "alice", "alice-pw1")
        tryCompare(lan, "motdText", "Welcome back, alice", 10000)
        // Page 0 at least: a tall window asks for the next page at once to fill itself.
        tryVerify(() => lan.publicVlansList.length >= 10 && !lan.vlansLoading, 10000)
        findChild(lan, "searchField").text = "Sam"
        tryVerify(() => lan.publicVlansTotal === 3 && !lan.vlansLoading, 10000)

        // What stands on the page the moment an action brings it up, before any reply.
        function shownBy(page, action) {
            let seen = null
            const look = () => {
                if (page.visible && seen === null)
                    seen = { motd: page.motdText, rows: page.publicVlansList ? page.publicVlansList.length : 0 }
            }
            page.visibleChanged.connect(look)
            testHost.resetService()
            action()
            tryVerify(() => seen !== null, 5000, "the page did not come up")
            page.visibleChanged.disconnect(look)
            return seen
        }
        function askedForBoth() {
            return testHost.requestsTo("/api/vlans/public?page=0&page_size=10").length > 0
                && testHost.requestsTo("/api/auth/motd").length > 0
        }

        // Logout from the settings; bob signs in and opens the LAN page.
        w.currentTab = 3
        tryVerify(() => !lan.visible, 2000)
        w.confirmLogout()
        signIn(w, "bob", "bob-pw1")
        let seen = shownBy(lan, () => w.currentTab = 1)
        compare(seen.motd, "", "the last player's message stays")
        compare(seen.rows, 0, "the last player's list stays")
        compare(findChild(lan, "searchField").text, "")
        tryVerify(askedForBoth, 5000, "list and message not asked for at the sign-in")
        tryCompare(lan, "motdText", "Welcome back, bob", 10000)
        tryVerify(() => lan.publicVlansList.length >= 10, 10000)

        // The session expires; bob signs in again, straight onto the LAN page.
        // The refresh token goes first: a call of the sign-in still on its way that
        // meets the expired token renews nothing in between.
        testHost.call("POST", "/test/revoke-refresh")
        testHost.call("POST", "/test/expire-access")
        api.fetchMe()
        tryCompare(w, "appState", "login", 10000)
        tryVerify(() => !lan.visible, 2000)
        seen = shownBy(lan, () => signIn(w, "bob", "bob-pw1"))
        compare(seen.rows, 0)
        tryVerify(askedForBoth, 5000, "list and message not asked for after the session expired")
        tryCompare(lan, "motdText", "Welcome back, bob", 10000)

        // Alice again, onto the game page: its message is hers.
        w.confirmLogout()
        tryVerify(() => !lan.visible, 2000)
        w.currentTab = 0
        seen = shownBy(w.gamePage, () => signIn(w, "alice", "alice-pw1"))
        compare(seen.motd, "", "the game page kept the last player's message")
        tryCompare(w.gamePage, "motdText", "Welcome back, alice", 10000)
    }

    function test_registration_stays_on_login() {
        const w = openWindow({ savedLang: "en" })
        updater.noUpdateAvailable()
        const name = "fresh" + Math.floor(Math.random() * 100000)
        w.loginPage.showRegister = true
        findChild(w.loginPage, "regEmail").text = name + "@example.com"
        findChild(w.loginPage, "regUsername").text = name
        findChild(w.loginPage, "regPassword").text = "secret12"
        w.handleReturn()
        tryVerify(() => toastTexts(w).indexOf("Registration successful") >= 0, 10000)
        compare(w.appState, "login")
        verify(!w.loginPage.showRegister)
        compare(findChild(w.loginPage, "loginUsername").text, name)
        compare(findChild(w.loginPage, "loginPassword").text, "")
    }

    function test_lobby_event_toasts() {
        const w = openWindow({ savedLang: "en" })
        api.username = "me"
        api.vlanEvent("user_connected", "me")
        compare(toastTexts(w).length, 0, "no toast about oneself")
        api.vlanEvent("user_connected", "a".repeat(20))
        compare(toastTexts(w), ["a".repeat(20) + " joined"])
        api.vlanEvent("user_disconnected", "b".repeat(21))
        compare(toastTexts(w)[1], "b".repeat(17) + "... left")
        api.vlanEvent("owner_changed", "c")
        compare(toastTexts(w).length, 2)
        api.createSuccess("ABC123", "room", "127.0.0.1:1")
        compare(toastTexts(w)[1], "Network created")
        api.username = ""
    }

    function test_dialogs_and_keys() {
        testHost.use("api", standIn)
        const w = openWindow({ savedLang: "en", tutorialDone: true })
        w.handleDisconnectKey()
        verify(!w.disconnectDialog.visible, "Ctrl+D outside the main state does nothing")
        w.appState = "main"
        w.handleDisconnectKey()
        verify(!w.disconnectDialog.visible, "nor while disconnected")
        standIn.connected = true
        w.handleDisconnectKey()
        verify(w.disconnectDialog.visible)
        w.handleEscape()
        verify(!w.disconnectDialog.visible)
        w.handleEscape()

        w.handleDisconnectKey()
        mouseClick(findChild(w.disconnectDialog, "confirmButton"))
        compare(standIn.callsTo("disconnectVlan").length, 1)
        verify(w.disconnectDialog.visible && w.disconnectDialog.loading, "it waits for the leave")
        standIn.disconnectSuccess()
        verify(!w.disconnectDialog.visible)

        w.settingsStore.savedUsername = "sam"
        w.settingsStore.savedRefreshToken = "tok"
        w.logoutDialog.show(Lang.confirmLogout)
        mouseClick(findChild(w.logoutDialog, "confirmButton"))
        compare(standIn.callsTo("logout").length, 1)
        compare(w.appState, "login")
        compare(w.settingsStore.savedUsername, "")
        compare(w.settingsStore.savedRefreshToken, "")
        verify(!w.logoutDialog.visible)

        // Return submits the visible form, but not while a request runs.
        findChild(w.loginPage, "loginUsername").text = "sam"
        findChild(w.loginPage, "loginPassword").text = "pw12"
        standIn.busy = true
        w.handleReturn()
        compare(standIn.callsTo("login").length, 0)
        standIn.busy = false
        w.handleReturn()
        compare(standIn.callsTo("login").length, 1)
    }

    function test_close_goes_to_the_tray() {
        testHost.use("api", standIn)
        const w = openWindow({ savedLang: "en" })
        w.closeToTray()
        verify(!w.visible)
        verify(w.settingsStore.trayNoticeShown)
        tryVerify(() => tray.messages.length === 1, 5000)
        compare(tray.messages[0].title, "Corvana")
        w.show()
        w.closeToTray()
        tryVerify(() => tray.messages.length === 2, 5000)
    }
}
