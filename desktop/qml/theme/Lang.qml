pragma Singleton
import QtQuick

// Every user-facing text in English and Persian. Each text is a binding on `current`,
// so switching the language re-renders the whole window at once.
//
// This file relies on the zero-width non-joiner U+200C, written literally inside Persian
// words (e.g. the one between "می" and "شود"). It is invisible: keep it when editing, and
// check with  grep -cP '\x{200C}' Lang.qml
QtObject {
    // "en" or "fa"; anything else, the empty text included, means English
    property string current: ""
    readonly property bool isPersian: current === "fa"
    readonly property int direction: isPersian ? Qt.RightToLeft : Qt.LeftToRight

    // Fonts. Vazirmatn is bundled (fonts/) and stands in for both Persian design families:
    // titles take its heavier weights, body text the regular ones. Latin text prefers
    // Segoe UI where the system has it; elsewhere the bundled Vazirmatn, whose Latin set is
    // complete, so the look never depends on the machine's default font.
    readonly property string persianFont: "Vazirmatn"
    readonly property string latinFont: Qt.fontFamilies().indexOf("Segoe UI") >= 0 ? "Segoe UI" : persianFont
    readonly property string titleFont: isPersian ? persianFont : latinFont
    readonly property string bodyFont: isPersian ? persianFont : latinFont
    // Figures (pings, player counts, sizes) line up in the monospaced face; Persian
    // digits are not in it, so in Persian they take the body face.
    readonly property string figureFont: isPersian ? persianFont : Theme.monoFont

    // ---- Numbers a player reads ----
    // Every page writes counts, times and sizes through these, so Persian shows Persian
    // digits with the unit after the number. Technical values (addresses, ports, codes,
    // version strings) are shown as they are and never pass through here.

    // The text of `value` with Persian digits (and decimal separator) in Persian;
    // every other character is kept.
    function number(value) {
        const text = value === undefined || value === null ? "" : String(value)
        if (!isPersian)
            return text
        return text.replace(/([0-9])\.(?=[0-9])/g, "$1\u066B")
                   .replace(/[0-9]/g, d => String.fromCharCode(0x06F0 + Number(d)))
    }

    // A quantity with its unit, in the language's word order: "29s" / "۲۹ ثانیه".
    function quantity(value, unit) {
        const forms = {
            "s": ["%1s", "%1 ثانیه"],
            "ms": ["%1 ms", "%1 میلی‌ثانیه"],
            "m": ["%1 m", "%1 دقیقه"],
            "h": ["%1 h", "%1 ساعت"],
            "d": ["%1 d", "%1 روز"],
            "B": ["%1 B", "%1 بایت"],
            "KB": ["%1 KB", "%1 کیلوبایت"],
            "MB": ["%1 MB", "%1 مگابایت"],
            "files": [Number(value) === 1 ? "%1 file" : "%1 files", "%1 فایل"]
        }[unit] || ["%1 " + unit, "%1 " + unit]
        return forms[isPersian ? 1 : 0].arg(number(value))
    }

    // A size in bytes, kilobytes or megabytes with one decimal: "1.5 KB" / "۱٫۵ کیلوبایت".
    function size(bytes) {
        const n = Number(bytes) || 0
        if (n < 1024)
            return quantity(n, "B")
        if (n < 1048576)
            return quantity((n / 1024).toFixed(1), "KB")
        return quantity((n / 1048576).toFixed(1), "MB")
    }

    // A moment as the local short date and the time in hours and minutes. The system's
    // locale gives the date's order; the language gives its digits and month names.
    function dateTime(when) {
        const date = when.toLocaleDateString(Qt.locale(isPersian ? "fa_IR" : "en_US"), Qt.locale().dateFormat(Locale.ShortFormat))
        return number(date + " " + Qt.formatTime(when, "hh:mm"))
    }

    // ---- Texts:  key: Persian : English ----

    // Announcement pop-up
    readonly property string readMore:                 isPersian ? "ادامه مطلب" : "Read More"
    readonly property string later:                    isPersian ? "بعداً" : "Later"
    readonly property string openLink:                 isPersian ? "باز کردن لینک" : "Open Link"

    // Language and login
    readonly property string signIn:                   isPersian ? "ورود" : "Sign In"
    readonly property string signInSubtitle:           isPersian ? "برای ادامه وارد حساب خود شوید" : "Enter your credentials to continue"
    readonly property string username:                 isPersian ? "نام کاربری" : "USERNAME"
    readonly property string password:                 isPersian ? "رمز عبور" : "PASSWORD"
    readonly property string usernamePlaceholder:      isPersian ? "نام کاربری خود را وارد کنید" : "Enter your username"
    readonly property string passwordPlaceholder:      isPersian ? "رمز عبور خود را وارد کنید" : "Enter your password"
    readonly property string rememberMe:               isPersian ? "مرا به خاطر بسپار" : "Remember me"
    readonly property string login:                    isPersian ? "ورود" : "Login"
    readonly property string noAccount:                isPersian ? "حساب کاربری ندارید؟" : "Don't have an account?"
    readonly property string registerLink:             isPersian ? "ثبت‌نام" : "Register"

    // Register
    readonly property string signUp:                   isPersian ? "ثبت‌نام" : "Sign Up"
    readonly property string signUpSubtitle:           isPersian ? "ساخت حساب کاربری جدید" : "Create a new account"
    readonly property string email:                    isPersian ? "ایمیل" : "EMAIL"
    readonly property string emailPlaceholder:         isPersian ? "ایمیل خود را وارد کنید" : "Enter your email"
    readonly property string register:                 isPersian ? "ثبت‌نام" : "Register"
    readonly property string haveAccount:              isPersian ? "حساب کاربری دارید؟" : "Already have an account?"
    readonly property string loginLink:                isPersian ? "ورود" : "Login"

    // General messages
    readonly property string loginSuccessMsg:          isPersian ? "ورود با موفقیت انجام شد" : "Login successful"
    readonly property string registerSuccessMsg:       isPersian ? "ثبت‌نام با موفقیت انجام شد" : "Registration successful"
    readonly property string sessionExpired:           isPersian ? "نشست شما منقضی شده است، لطفاً دوباره وارد شوید" : "Your session has expired, please login again"
    readonly property string fillAllFields:            isPersian ? "لطفاً همه فیلدها را پر کنید" : "Please fill in all fields"
    readonly property string copied:                   isPersian ? "کپی شد" : "Copied!"
    readonly property string userJoined:               isPersian ? "وارد شد" : "joined"
    readonly property string userLeft:                 isPersian ? "خارج شد" : "left"
    readonly property string confirmDisconnect:        isPersian ? "مطمئن هستید که می‌خواهید اتصال را قطع کنید؟" : "Are you sure you want to disconnect?"
    readonly property string confirmLogout:            isPersian ? "مطمئن هستید که می‌خواهید از حساب خارج شوید؟" : "Are you sure you want to logout?"
    readonly property string confirm:                  isPersian ? "تأیید" : "Confirm"
    readonly property string cancel:                   isPersian ? "لغو" : "Cancel"
    readonly property string loadingApp:               isPersian ? "در حال بارگذاری..." : "Loading..."
    readonly property string trayNoticeTitle:          isPersian ? "کوروانا" : "Corvana"
    readonly property string trayNoticeMsg:            isPersian ? "برنامه همچنان در پس‌زمینه اجرا می‌شود. از آیکون سیستم‌تری بازش کنید." : "Corvana is still running in the background. Open it from the system tray icon."
    readonly property string emailInvalid:             isPersian ? "فرمت ایمیل نامعتبر است" : "Invalid email format"
    readonly property string passwordTooShort:         isPersian ? "رمز عبور باید حداقل ۴ کاراکتر باشد" : "Password must be at least 4 characters"
    readonly property string usernameTooShort:         isPersian ? "نام کاربری باید حداقل ۳ کاراکتر باشد" : "Username must be at least 3 characters"

    // Tunnel status (%1 is the number of seconds)
    readonly property string vpnConnecting:            isPersian ? "در حال اتصال به سرور..." : "Connecting to server..."
    readonly property string vpnHandshake:             isPersian ? "تبادل کلید..." : "Key exchange..."
    readonly property string vpnAuth:                  isPersian ? "در حال احراز هویت..." : "Authenticating..."
    readonly property string vpnConfiguring:           isPersian ? "در حال پیکربندی آداپتور..." : "Configuring adapter..."
    readonly property string vpnReady:                 isPersian ? "تونل فعال است" : "Tunnel active"
    readonly property string vpnReconnecting:          isPersian ? "در حال اتصال مجدد..." : "Reconnecting..."
    readonly property string vpnReconnectingIn:        isPersian ? "اتصال مجدد در %1 ثانیه" : "Reconnecting in %1s"
    readonly property string vpnIpLabel:               isPersian ? "آی‌پی VPN" : "VPN IP"
    readonly property string connectedFor:             isPersian ? "مدت اتصال" : "Connected for"
    readonly property string copyVlanId:               isPersian ? "کپی شناسه VLAN" : "Copy VLAN ID"
    readonly property string copyVpnIp:                isPersian ? "کپی آی‌پی VPN" : "Copy VPN IP"

    // Profile
    readonly property string profileTitle:             isPersian ? "حساب کاربری" : "Account"
    readonly property string profileSubtitle:          isPersian ? "مدیریت حساب کاربری" : "Manage your account"
    readonly property string changePassword:           isPersian ? "تغییر رمز عبور" : "Change Password"
    readonly property string currentPassword:          isPersian ? "رمز عبور فعلی" : "Current password"
    readonly property string newPassword:              isPersian ? "رمز عبور جدید" : "New password"
    readonly property string confirmPassword:          isPersian ? "تکرار رمز عبور جدید" : "Confirm new password"
    readonly property string changePasswordBtn:        isPersian ? "تغییر رمز عبور" : "Change Password"
    readonly property string passwordsNoMatch:         isPersian ? "رمزهای عبور یکسان نیستند" : "Passwords do not match"
    readonly property string passwordChangedMsg:       isPersian ? "رمز عبور با موفقیت تغییر کرد" : "Password changed successfully"
    readonly property string changeUsername:           isPersian ? "تغییر نام کاربری" : "Change Username"
    readonly property string newUsernameLabel:         isPersian ? "نام کاربری جدید" : "New username"
    readonly property string changeUsernameBtn:        isPersian ? "تغییر نام کاربری" : "Change Username"
    readonly property string usernameChangedMsg:       isPersian ? "نام کاربری تغییر کرد — لطفاً دوباره وارد شوید" : "Username changed — please log in again"
    readonly property string profilePictureTitle:      isPersian ? "تصویر پروفایل" : "Profile Picture"
    readonly property string choosePicture:            isPersian ? "انتخاب تصویر" : "Choose a picture"
    readonly property string hidePicker:               isPersian ? "بستن فهرست تصاویر" : "Hide picker"
    readonly property string nextChangeIn:             isPersian ? "تغییر بعدی پس از" : "Next change in"
    readonly property string canChangeNow:             isPersian ? "همین حالا می‌توانید تغییر دهید" : "You can change now"
    readonly property string avatarChangedMsg:         isPersian ? "تصویر پروفایل به‌روز شد" : "Profile picture updated"
    readonly property string avatarCooldownMsg:        isPersian ? "هنوز نمی‌توانید تصویر را تغییر دهید." : "You can't change the picture yet."

    // Badges
    readonly property string ownerBadge:               isPersian ? "مالک" : "OWNER"
    readonly property string adminBadge:               isPersian ? "تیم کوروانا" : "Corvana Staff"

    // Settings and announcements
    readonly property string logoutSection:            isPersian ? "خروج" : "Logout"
    readonly property string logoutDesc:               isPersian ? "خروج از حساب کاربری" : "Sign out of your account"
    readonly property string announceTab:              isPersian ? "اطلاعیه‌ها" : "Announcements"
    readonly property string announceTitle:            isPersian ? "اطلاعیه‌ها" : "Announcements"
    readonly property string noAnnouncements:          isPersian ? "هنوز اطلاعیه‌ای نیست" : "No announcements yet"
    readonly property string settingsTab:              isPersian ? "تنظیمات" : "Settings"
    readonly property string settingsTitle:            isPersian ? "تنظیمات" : "Settings"
    readonly property string languageSetting:          isPersian ? "زبان" : "Language"
    readonly property string languageDesc:             isPersian ? "تغییر زبان برنامه" : "Change the interface language"
    readonly property string discordPresence:          isPersian ? "نمایش در دیسکورد" : "Discord Rich Presence"
    readonly property string discordPresenceDesc:      isPersian ? "وضعیت اتصال شما در دیسکورد نمایش داده شود" : "Show your connection status on Discord"

    // Sidebar
    readonly property string gamesTab:                 isPersian ? "کوروانا اینفرا" : "Corvana Infra"
    readonly property string lanTab:                   isPersian ? "اتصال LAN" : "LAN Connection"
    readonly property string wifiTab:                  isPersian ? "آزاد باش" : "Be free"
    readonly property string wifiTabTooltip:           isPersian ? "آزاد باش" : "Be free"
    readonly property string aboutTab:                 isPersian ? "درباره ما" : "About"
    readonly property string logoutTab:                isPersian ? "خروج" : "Logout"
    readonly property string comingSoon:               isPersian ? "به‌زودی" : "Coming Soon"
    readonly property string sortAlphabetical:         isPersian ? "مرتب‌سازی الفبایی" : "Sort A→Z"
    readonly property string sortJoinOrder:            isPersian ? "ترتیب ورود" : "Join order"

    // LAN page, disconnected
    readonly property string joinVlan:                 isPersian ? "پیوستن به VLAN" : "Join a VLAN"
    readonly property string vlanId:                   isPersian ? "شناسه VLAN" : "VLAN ID"
    readonly property string vlanPlaceholder:          isPersian ? "اختیاری — مثلاً A3F829" : "Optional — e.g. A3F829"
    readonly property string joinVlanBtn:              isPersian ? "پیوستن" : "Join"
    readonly property string orCreateNew:              isPersian ? "یا یک شبکه جدید بسازید" : "or create a new one"
    readonly property string backToJoin:               isPersian ? "بازگشت به پیوستن" : "Back to join"
    readonly property string publicVlans:              isPersian ? "شبکه‌های عمومی" : "Public VLANs"
    readonly property string capacity:                 isPersian ? "ظرفیت" : "CAPACITY"
    readonly property string joinBtn:                  isPersian ? "پیوستن" : "Join"
    readonly property string createVlan:               isPersian ? "ساخت VLAN جدید" : "Create New VLAN"
    readonly property string capacityLabel:            isPersian ? "ظرفیت" : "CAPACITY"
    readonly property string publicVlan:               isPersian ? "عمومی" : "Public"
    readonly property string selectGame:               isPersian ? "انتخاب بازی" : "SELECT GAME"
    readonly property string gameColumn:               isPersian ? "بازی" : "GAME"
    readonly property string createBtn:                isPersian ? "ساختن" : "Create"
    readonly property string vlanCreatedMsg:           isPersian ? "شبکه ساخته شد" : "Network created"
    readonly property string searchPlaceholder:        isPersian ? "جستجوی شبکه‌ها..." : "Search VLANs..."
    readonly property string noResults:                isPersian ? "نتیجه‌ای پیدا نشد" : "No results found"
    readonly property string refreshIn:                isPersian ? "به‌روزرسانی در" : "Refresh in"

    // LAN page, connected
    readonly property string lanConnection:            isPersian ? "اتصال LAN" : "LAN Connection"
    readonly property string connected:                isPersian ? "متصل" : "Connected"
    readonly property string disconnect:               isPersian ? "قطع اتصال" : "Disconnect"
    readonly property string connectedPeers:           isPersian ? "کاربران متصل" : "Connected Peers"

    // About
    readonly property string appTagline:               isPersian ? "از گیمرها، برای گیمرها" : "by gamers, for gamers"
    readonly property string aboutTitle:               isPersian ? "درباره ما" : "About"
    readonly property string aboutText:                isPersian ? "کوروانا به‌عنوان پروژه آخر هفته چند دوست شروع شد که می‌خواستند بازی‌های شبکه‌ای قدیمی‌شان را دوباره با هم بازی کنند، هر کدام از یک شهر. چیزی که با یک تونل میان سه کامپیوتر خانگی آغاز شد، امروز سرویسی است که بازیکن‌ها هر شب از آن استفاده می‌کنند.\n\nما هنوز پیش از هر چیز گیمر هستیم. هر قابلیت با همان سؤالی شروع می‌شود که آخر هر مسابقه از خودمان می‌پرسیم: چه چیزی این را ساده‌تر می‌کرد؟ کوروانا کوچک، سریع و منصف می‌ماند و همراه با کسانی که با آن بازی می‌کنند رشد می‌کند." : "Corvana began as a weekend project of a few friends who wanted to play their old LAN games together again, each from a different city. What started as a tunnel between three home computers is now a service that players use every night.\n\nWe are still gamers first. Every feature starts with the question we ask ourselves at the end of a match: what would have made that easier? Corvana stays small, quick and fair, and it grows together with the people who play on it."
    readonly property string connectWithUs:            isPersian ? "با ما در ارتباط باشید" : "Connect With Us"

    // Tutorial (the Persian is informal on purpose)
    readonly property string tutWelcomeTitle:          isPersian ? "به کوروانا خوش اومدی! 👋" : "Welcome to Corvana! 👋"
    readonly property string tutWelcomeDesc:           isPersian ? "بریم با برنامه آشنا شیم" : "Let's take a quick tour of the app.\nIt only takes a few seconds."
    readonly property string tutSidebarTitle:          isPersian ? "نوار کناری" : "Sidebar"
    readonly property string tutSidebarDesc:           isPersian ? "با این آیکون‌ها بین صفحه‌ها جابه‌جا شو." : "Use these icons to navigate between pages."
    readonly property string tutJoinTitle:             isPersian ? "بپیوند یا بساز" : "Join or Create"
    readonly property string tutJoinDesc:              isPersian ? "کد VLAN دوستت رو وارد کن و به شبکه‌اش بپیوند.\nیا یه شبکه جدید بساز و کدش رو بفرست." : "Enter a VLAN code to join your friends' network.\nOr create a new one and share the code."
    readonly property string tutPublicTitle:           isPersian ? "شبکه‌های عمومی" : "Public Networks"
    readonly property string tutPublicDesc:            isPersian ? "شبکه‌های عمومی رو ببین، جستجو کن و با یه کلیک وارد شو." : "Browse public networks, search, and join with one click."
    readonly property string tutAboutTitle:            isPersian ? "درباره ما" : "About Us"
    readonly property string tutAboutDesc:             isPersian ? "اطلاعات تیم و شبکه‌های اجتماعی ما اینجاست." : "Find our team info and social links here."
    readonly property string tutSettingsTitle:         isPersian ? "تنظیمات" : "Settings"
    readonly property string tutSettingsDesc:          isPersian ? "زبان و تنظیمات برنامه رو از اینجا عوض کن." : "Change language and app preferences from here."
    readonly property string tutDoneTitle:             isPersian ? "همه‌چی آماده‌ست! 🚀" : "You're all set! 🚀"
    readonly property string tutDoneDesc:              isPersian ? "امیدوارم از استفاده از کوروانا لذت ببری =)" : "Now you can join a network or create your own.\nHave fun!"

    // Game page
    readonly property string dedicatedServerGames:     isPersian ? "بازی‌های سرور اختصاصی" : "Dedicated Server Games"
    readonly property string gameDesc:                 isPersian ? "بازی‌هایی که برای ساختن یا پیوستن به جلسه‌های شبکه اختصاصی پشتیبانی می‌شوند." : "Games supported for creating or joining dedicated network sessions."
    readonly property string playersLabel:             isPersian ? "بازیکن" : "Players"
    readonly property string serversLabel:             isPersian ? "سرور" : "Servers"
    readonly property string gameStatusActive:         isPersian ? "فعال" : "Active"
    readonly property string gameStatusFull:           isPersian ? "تکمیل" : "Full"
    readonly property string gameStatusUnavailable:    isPersian ? "در دسترس نیست" : "Unavailable"
    readonly property string serverListDesc:           isPersian ? "یک سرور انتخاب کنید و به جلسه دوستانتان بپیوندید." : "Choose a server and join your friends' session."
    readonly property string availableServers:         isPersian ? "سرورهای موجود" : "Available Servers"
    readonly property string officialServersTab:       isPersian ? "رسمی" : "Official"
    readonly property string communityServersTab:      isPersian ? "کامیونیتی" : "Community"
    readonly property string serverColumn:             isPersian ? "سرور" : "SERVER"
    readonly property string mapColumn:                isPersian ? "نقشه" : "MAP"
    readonly property string pingColumn:               isPersian ? "پینگ" : "PING"
    readonly property string searchServersPlaceholder: isPersian ? "جستجوی سرورها..." : "Search servers..."
    readonly property string dedicatedConnectionDesc:  isPersian ? "مسیر اختصاصی آماده است. بازی را اجرا کنید و دستور اتصال را در کنسول وارد کنید." : "Dedicated route is ready. Launch the game and enter the connect command in the console."
    readonly property string connectionStatus:         isPersian ? "وضعیت اتصال" : "CONNECTION STATUS"
    readonly property string connectionPreparing:      isPersian ? "در حال آماده‌سازی جلسه" : "Preparing session"
    readonly property string connectionRouting:        isPersian ? "مسیریابی تونل اختصاصی" : "Routing dedicated tunnel"
    readonly property string connectionChecking:       isPersian ? "بررسی سرور بازی" : "Checking game server"
    readonly property string connectionReady:          isPersian ? "آماده اجرا" : "Ready to launch"
    readonly property string serverInfo:               isPersian ? "اطلاعات سرور" : "SERVER INFO"
    readonly property string consoleCommand:           isPersian ? "کد اتصال" : "CONNECT CODE"
    readonly property string launchGame:               isPersian ? "اجرای بازی" : "Launch Game"
}
