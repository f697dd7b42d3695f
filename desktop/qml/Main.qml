import QtQuick
import QtQuick.Window
import Qt.labs.settings
import "components"
import "pages"
import "theme"

// The program's one window: language choice, loading, sign-in and the main
// view with its pages, overlays, dialogs and toasts.
Window {
    id: root
    // The state the settings call for, from the first frame, so a returning player
    // never sees the language view fade out. Read from the store itself: the Settings
    // object fills its properties only as the window completes, and a method call makes
    // no live binding that a later settings change could move.
    property string appState: {
        if (String(settings.value("savedLang", "")) === "")
            return "lang"
        return String(settings.value("savedRefreshToken", "")) !== "" ? "loading" : "login"
    }
    property int currentTab: 1
    property int resizeMargin: 6
    // Long waits are properties so tests can shorten them.
    property int avatarRefreshMs: 600000
    property int tutorialDelayMs: 500
    property int trayNoticeDelayMs: 500
    // From the sign-in that starts the tour until its layer is gone: the announcement
    // pop-up waits, so the spotlight never frames it and no click meets its buttons.
    property bool tourAhead: false

    width: 1280
    height: 720
    minimumWidth: 720
    minimumHeight: 480
    visible: true
    title: "Corvana"
    flags: Qt.FramelessWindowHint | Qt.Window
    color: "transparent"

    // The per-user settings; tests read them through this alias.
    property alias settingsStore: settings

    Settings {
        id: settings
        property string savedLang: ""
        property string savedRefreshToken: ""
        property string savedUsername: ""
        property bool tutorialDone: false
        property bool trayNoticeShown: false
        property bool discordPresence: true
    }

    // Fonts of the resource tree, so the look never depends on the machine's fonts.
    property list<QtObject> fontLoaders: [
        FontLoader { source: "qrc:/fonts/Vazirmatn-Regular.ttf" },
        FontLoader { source: "qrc:/fonts/Vazirmatn-Medium.ttf" },
        FontLoader { source: "qrc:/fonts/Vazirmatn-SemiBold.ttf" },
        FontLoader { source: "qrc:/fonts/Vazirmatn-Bold.ttf" }
    ]

    Component.onCompleted: {
        if (settings.savedLang !== "") {
            Lang.current = settings.savedLang
            api.lang = settings.savedLang
        }
        api.setDiscordEnabled(settings.discordPresence)
        updater.setLang(settings.savedLang !== "" ? settings.savedLang : "en")
    }

    function proceedToAuth() {
        if (settings.savedRefreshToken !== "") {
            if (settings.savedUsername !== "")
                api.username = settings.savedUsername
            api.refresh(settings.savedRefreshToken)
        } else if (settings.savedUsername !== "") {
            loginPage.prefillLogin(settings.savedUsername)
        }
    }

    function chooseLanguage(lang) {
        Lang.current = lang
        settings.savedLang = lang
        api.lang = lang
    }

    function closeToTray() {
        root.hide()
        settings.trayNoticeShown = true
        trayNoticeTimer.start()
    }

    function toggleMaximized() {
        if (root.visibility === Window.Maximized)
            root.showNormal()
        else
            root.showMaximized()
    }

    function confirmLogout() {
        api.logout()
        settings.savedRefreshToken = ""
        settings.savedUsername = ""
        logoutDialog.hide()
        appState = "login"
    }

    function startTutorialNow() {
        if (appState !== "main") {
            tourAhead = false
            return
        }
        tutorial.start([
            { target: null, icon: "qrc:/icons/logo.svg", title: Lang.tutWelcomeTitle, description: Lang.tutWelcomeDesc },
            { target: sidebar.lanTabItem, icon: "qrc:/icons/network.svg", title: Lang.tutSidebarTitle, description: Lang.tutSidebarDesc },
            { target: lanPage.joinCardItem, icon: "qrc:/icons/plug.svg", title: Lang.tutJoinTitle, description: Lang.tutJoinDesc },
            { target: lanPage.publicTableItem, icon: "qrc:/icons/globe.svg", title: Lang.tutPublicTitle, description: Lang.tutPublicDesc },
            { target: sidebar.aboutTabItem, icon: "qrc:/icons/info.svg", title: Lang.tutAboutTitle, description: Lang.tutAboutDesc },
            { target: sidebar.settingsTabItem, icon: "qrc:/icons/settings.svg", title: Lang.tutSettingsTitle, description: Lang.tutSettingsDesc },
            { target: null, icon: "qrc:/icons/logo.svg", title: Lang.tutDoneTitle, description: Lang.tutDoneDesc }
        ])
    }

    function finishTutorial() {
        settings.tutorialDone = true
        content.forceActiveFocus()
    }

    Connections {
        target: updater
        function onNoUpdateAvailable() { root.proceedToAuth() }
        function onUpdateReadyToInstall() { Qt.quit() }
        function onUpdateFailed(message) { /* the overlay stays with its Exit button */ }
    }

    Connections {
        target: api
        function onLoggedInChanged() {
            if (api.loggedIn && api.username !== "")
                AvatarCache.refresh(api.username)
            else
                AvatarCache.clear()
        }
        function onDisconnectSuccess() { disconnectDialog.hide() }
    }

    Timer {
        id: avatarTimer
        interval: root.avatarRefreshMs
        repeat: true
        running: api.loggedIn && api.username !== ""
        onTriggered: AvatarCache.refresh(api.username)
    }
    Timer {
        id: tutorialTimer
        interval: root.tutorialDelayMs
        onTriggered: root.startTutorialNow()
    }
    Timer {
        id: trayNoticeTimer
        interval: root.trayNoticeDelayMs
        onTriggered: tray.showTrayMessage(Lang.trayNoticeTitle, Lang.trayNoticeMsg)
    }

    property alias toast: appToast
    property alias loginPage: loginPage
    property alias tutorialOverlay: tutorial
    property alias disconnectDialog: disconnectDialog
    property alias logoutDialog: logoutDialog
    property alias lanPage: lanPage
    property alias gamePage: gamePage
    property alias announceOverlay: announceOverlay

    ApiHandler {
        id: apiHandler
        toast: appToast
        loginPage: loginPage
        settings: settings
        onStateChange: newState => root.appState = newState
        onStartTutorial: {
            root.tourAhead = true
            tutorialTimer.start()
        }
    }

    // Window-wide keys; the handlers are functions so the window's tests can reach them.
    function handleEscape() {
        if (tutorial.visible)
            tutorial.skip()
        else if (disconnectDialog.visible)
            disconnectDialog.hide()
        else if (logoutDialog.visible)
            logoutDialog.hide()
    }
    function handleDisconnectKey() {
        if (appState === "main" && api.connected)
            disconnectDialog.show(Lang.confirmDisconnect)
    }
    function handleReturn() {
        if (appState === "login" && !api.busy)
            loginPage.submit()
    }

    // While the update overlay covers the window no key may reach what lies beneath.
    Shortcut {
        sequence: "Escape"
        context: Qt.ApplicationShortcut
        enabled: !updateOverlay.visible
        onActivated: root.handleEscape()
    }
    Shortcut {
        sequence: "Ctrl+D"
        context: Qt.ApplicationShortcut
        enabled: !updateOverlay.visible
        onActivated: root.handleDisconnectKey()
    }
    Shortcut {
        sequences: ["Return", "Enter"]
        context: Qt.ApplicationShortcut
        enabled: root.appState === "login" && !api.busy && !updateOverlay.visible
        onActivated: root.handleReturn()
    }

    // Everything inside the 2-px inset, in the window's rounded shape. The shape
    // comes from the rounded background and from full-window layers that round
    // their own corners: no item reaches into a corner, and an offscreen mask of
    // the whole window would cost a second pass over every frame.
    Item {
        id: frame
        anchors.fill: parent
        anchors.margins: 2

        Rectangle {
            anchors.fill: parent
            radius: Theme.windowRadius
            gradient: Gradient {
                GradientStop { position: 0.0; color: "#191920" }
                GradientStop { position: 1.0; color: "#121218" }
            }
            Rectangle {
                anchors.fill: parent
                radius: Theme.windowRadius
                color: Qt.rgba(1, 1, 1, 0.025)
            }
        }

        // A click on the empty background leaves any text field.
        MouseArea {
            anchors.fill: parent
            onPressed: mouse => { content.forceActiveFocus(); mouse.accepted = false }
        }

        // Right to left is one switch here: everything below inherits it. Components
        // never flip themselves; what must stay left to right opts out where it stands.
        Item {
            id: content
            anchors.fill: parent
            focus: true
            LayoutMirroring.enabled: Lang.isPersian
            LayoutMirroring.childrenInherit: true

            // Title bar: drag to move, double click to maximise. Window chrome keeps
            // its places in both languages.
            Item {
                id: titleBar
                width: parent.width
                height: Theme.titleBarHeight
                z: 100
                LayoutMirroring.enabled: false
                LayoutMirroring.childrenInherit: true
                DragHandler {
                    target: null
                    onActiveChanged: if (active) root.startSystemMove()
                }
                TapHandler {
                    onDoubleTapped: root.toggleMaximized()
                }
                Row {
                    x: 14
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 7
                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 14
                        height: 14
                        sourceSize: Qt.size(28, 28)
                        source: "qrc:/icons/logo.svg"
                        opacity: 0.4
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Corvana"
                        color: Qt.rgba(1, 1, 1, 0.3)
                        font.family: Lang.latinFont
                        font.pixelSize: Theme.fontSizeSmall
                    }
                }
                WindowControls {
                    anchors.right: parent.right
                    anchors.rightMargin: 8
                    y: 6
                    onMinimizeClicked: root.showMinimized()
                    onMaximizeClicked: root.toggleMaximized()
                    onCloseClicked: root.closeToTray()
                }
            }

            StateView {
                id: langView
                shown: root.appState === "lang"
                fadeMs: 250
                LangPage {
                    anchors.fill: parent
                    onLanguageSelected: lang => {
                        root.chooseLanguage(lang)
                        root.appState = "login"
                    }
                }
            }

            StateView {
                id: loadingView
                shown: root.appState === "loading"
                fadeMs: 250
                Column {
                    anchors.centerIn: parent
                    spacing: 16
                    Image {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: 64
                        height: 64
                        sourceSize: Qt.size(128, 128)
                        source: "qrc:/icons/logo.svg"
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: Lang.loadingApp
                        color: Theme.textSecondary
                        font.family: Lang.bodyFont
                        font.pixelSize: Theme.fontSizeBody
                    }
                    BusySpinner {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: 22
                        height: 22
                        color: Theme.accentLime
                    }
                }
            }

            StateView {
                id: loginView
                shown: root.appState === "login"
                fadeMs: 300
                scales: true
                LoginPage {
                    id: loginPage
                    anchors.fill: parent
                    toast: appToast
                }
            }

            StateView {
                id: mainView
                shown: root.appState === "main"
                fadeMs: 300
                scales: true

                Sidebar {
                    id: sidebar
                    anchors.top: parent.top
                    anchors.bottom: parent.bottom
                    anchors.topMargin: Theme.titleBarHeight
                    currentIndex: root.currentTab
                    username: api.username
                    hasUnreadAnnounce: announcePage.hasUnread
                    vlanConnected: api.connected
                    dedicatedConnected: gamePage.showingConnection || gamePage.connectingToServer
                    onTabClicked: index => root.currentTab = index
                    onSettingsClicked: root.currentTab = 3
                    onProfileClicked: root.currentTab = 4
                    onAnnounceClicked: root.currentTab = 5
                }

                // The sidebar stays at the left; the pages beside it mirror.
                Item {
                    id: pages
                    LayoutMirroring.enabled: false
                    anchors.left: sidebar.right
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.bottom: parent.bottom

                    PageView {
                        index: 0
                        GamePage { id: gamePage; anchors.fill: parent; toast: appToast }
                    }
                    PageView {
                        index: 1
                        LanPage {
                            id: lanPage
                            anchors.fill: parent
                            toast: appToast
                            disconnectConfirmBusy: disconnectDialog.visible && disconnectDialog.loading
                            onDisconnectRequested: disconnectDialog.show(Lang.confirmDisconnect)
                        }
                    }
                    PageView {
                        index: 2
                        AboutPage { id: aboutPage; anchors.fill: parent; toast: appToast }
                    }
                    PageView {
                        index: 3
                        SettingsPage {
                            id: settingsPage
                            anchors.fill: parent
                            toast: appToast
                            settings: settings
                            onLanguageChanged: lang => root.chooseLanguage(lang)
                            onLogoutClicked: logoutDialog.show(Lang.confirmLogout)
                        }
                    }
                    PageView {
                        index: 4
                        ProfilePage { id: profilePage; anchors.fill: parent; toast: appToast }
                    }
                    PageView {
                        index: 5
                        AnnouncePage {
                            id: announcePage
                            anchors.fill: parent
                            toast: appToast
                            overlay: announceOverlay
                            held: root.tourAhead
                        }
                    }
                }
            }

            AnnounceOverlay {
                id: announceOverlay
                z: 200
                onOpenAnnouncements: root.currentTab = 5
            }
            UpdateOverlay {
                id: updateOverlay
                z: 950
                // The overlay held the focus; the pages get it back.
                onVisibleChanged: if (!visible) content.forceActiveFocus()
            }
            ConfirmDialog {
                id: disconnectDialog
                objectName: "disconnectDialog"
                z: 998
                onConfirmed: api.disconnectVlan()
            }
            ConfirmDialog {
                id: logoutDialog
                objectName: "logoutDialog"
                z: 998
                onConfirmed: root.confirmLogout()
            }
            TutorialOverlay {
                id: tutorial
                z: 999
                onCompleted: root.finishTutorial()
                onSkipped: root.finishTutorial()
                // Faded out: what waited behind the tour may show.
                onVisibleChanged: if (!visible) root.tourAhead = false
            }
            Toast {
                id: appToast
                z: 1000
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        radius: Theme.windowRadius
        color: "transparent"
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    // Resize strips and corners, above everything else.
    Item {
        anchors.fill: parent
        z: 2000
        ResizeArea { edges: Qt.LeftEdge; x: 0; y: root.resizeMargin; width: root.resizeMargin; height: parent.height - 2 * root.resizeMargin; cursorShape: Qt.SizeHorCursor }
        ResizeArea { edges: Qt.RightEdge; x: parent.width - root.resizeMargin; y: root.resizeMargin; width: root.resizeMargin; height: parent.height - 2 * root.resizeMargin; cursorShape: Qt.SizeHorCursor }
        ResizeArea { edges: Qt.TopEdge; x: root.resizeMargin; y: 0; width: parent.width - 2 * root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeVerCursor }
        ResizeArea { edges: Qt.BottomEdge; x: root.resizeMargin; y: parent.height - root.resizeMargin; width: parent.width - 2 * root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeVerCursor }
        ResizeArea { edges: Qt.TopEdge | Qt.LeftEdge; x: 0; y: 0; width: root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeFDiagCursor }
        ResizeArea { edges: Qt.TopEdge | Qt.RightEdge; x: parent.width - root.resizeMargin; y: 0; width: root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeBDiagCursor }
        ResizeArea { edges: Qt.BottomEdge | Qt.LeftEdge; x: 0; y: parent.height - root.resizeMargin; width: root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeBDiagCursor }
        ResizeArea { edges: Qt.BottomEdge | Qt.RightEdge; x: parent.width - root.resizeMargin; y: parent.height - root.resizeMargin; width: root.resizeMargin; height: root.resizeMargin; cursorShape: Qt.SizeFDiagCursor }
    }

    component ResizeArea: MouseArea {
        property int edges: 0
        onPressed: root.startSystemResize(edges)
    }

    // One of the window's four state views, cross-fading in and out.
    component StateView: Item {
        property bool shown: false
        property int fadeMs: 250
        property bool scales: false
        anchors.fill: parent
        opacity: shown ? 1 : 0
        visible: opacity > 0
        enabled: shown
        scale: scales ? (shown ? 1 : 0.97) : 1
        Behavior on opacity { NumberAnimation { duration: fadeMs; easing.type: Easing.OutCubic } }
        Behavior on scale { NumberAnimation { duration: fadeMs; easing.type: Easing.OutCubic } }
    }

    // One page of the main view; only the current one shows.
    component PageView: Item {
        property int index: 0
        anchors.fill: parent
        opacity: root.currentTab === index ? 1 : 0
        visible: opacity > 0
        enabled: root.currentTab === index
        Behavior on opacity { NumberAnimation { duration: 200 } }
    }
}
