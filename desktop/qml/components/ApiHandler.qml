import QtQuick
import "../theme"

// The sign-in and lobby signals of `api`, handled in one place for the whole window.
Item {
    id: handler
    required property var toast
    required property var loginPage
    required property var settings
    signal stateChange(string newState)
    signal startTutorial()

    // A member name as the toasts show it: long names are cut.
    function shortName(name) {
        return name.length > 20 ? name.substring(0, 17) + "..." : name
    }

    function enterMain() {
        stateChange("main")
        api.fetchAnnouncements()
        api.fetchGames()
        api.fetchMe()
        if (!settings.tutorialDone)
            startTutorial()
    }

    Connections {
        target: api

        function onLoginSuccess(username) {
            handler.settings.savedUsername = username
            if (handler.loginPage.rememberChecked)
                handler.settings.savedRefreshToken = api.refreshToken()
            handler.loginPage.clearAll()
            handler.toast.success(Lang.loginSuccessMsg)
            handler.enterMain()
        }

        function onRegisterSuccess(username) {
            const name = handler.loginPage.regUsernameText
            handler.toast.success(Lang.registerSuccessMsg)
            handler.loginPage.showRegister = false
            handler.loginPage.prefillLogin(name)
        }

        function onRefreshSuccess() {
            handler.settings.savedRefreshToken = api.refreshToken()
            handler.enterMain()
        }

        function onAuthRequired() {
            handler.settings.savedRefreshToken = ""
            handler.stateChange("login")
            handler.toast.error(Lang.sessionExpired)
        }

        function onLogoutDone() {
            handler.settings.savedRefreshToken = ""
            handler.settings.savedUsername = ""
            handler.stateChange("login")
        }

        function onVpnCrashed() {
            // The failure reaches the user as a requestError.
        }

        function onVlanEvent(type, username) {
            if (type === "user_connected")
                AvatarCache.refresh(username)
            if (username === api.username)
                return
            const name = handler.shortName(username)
            if (type === "user_connected")
                handler.toast.success(name + " " + Lang.userJoined)
            else if (type === "user_disconnected")
                handler.toast.error(name + " " + Lang.userLeft)
        }

        function onCreateSuccess(vlanId, name, serverAddress) {
            handler.toast.success(Lang.vlanCreatedMsg)
        }

        function onTokenRotated() {
            handler.settings.savedRefreshToken = api.refreshToken()
        }

        function onRequestError(message) {
            handler.toast.error(message)
        }
    }
}
