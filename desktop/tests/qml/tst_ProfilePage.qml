import QtQuick
import QtTest
import "qrc:/qml/pages"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "ProfilePage"
    width: 1100
    height: 760

    StandInApi { id: standIn; baseUrl: "http://svc.test:8480"; username: "demo" }
    QtObject {
        id: toastSpy
        property var successes: []
        property var errors: []
        function success(message) { successes = successes.concat([message]) }
        function error(message) { errors = errors.concat([message]) }
    }
    property var realApi: null
    readonly property double hour: 3600000
    readonly property double day: 24 * hour

    Component {
        id: pageComponent
        ProfilePage { anchors.fill: parent; toast: toastSpy }
    }

    function initTestCase() { realApi = api }
    function init() {
        testHost.use("api", standIn)
        standIn.clearCalls()
        standIn.busy = false
        toastSpy.successes = []
        toastSpy.errors = []
        Lang.current = "en"
    }
    function cleanup() {
        testHost.use("api", realApi)
        Lang.current = ""
        checkWarnings()
    }
    function agoIso(ms) {
        return new Date(Date.now() - ms).toISOString()
    }
    function child(page, name) {
        const found = findChild(page, name)
        verify(found, "no child " + name)
        return found
    }

    function test_cooldownArithmeticAndTexts() {
        const page = createTemporaryObject(pageComponent, testCase)
        const now = Date.parse("2026-12-09T12:00:00Z")
        const at = ms => new Date(now - ms).toISOString()
        compare(page.cooldownLeft(at(23 * hour), day, now), hour)
        compare(page.cooldownLeft(at(25 * hour), day, now), 0)
        compare(page.cooldownLeft("", day, now), 0)
        compare(page.cooldownLeft("yesterday-ish", day, now), 0)
        // A time in the future is never more than the cool-down itself.
        compare(page.cooldownLeft("2099-01-01T00:00:00Z", day, now), day)

        compare(page.formatCooldownShort(0), "")
        compare(page.formatCooldownShort(-5), "")
        compare(page.formatCooldownShort(hour), "1 h")
        compare(page.formatCooldownShort(30000), "1 m")
        compare(page.formatCooldownShort(1), "1 m")
        compare(page.formatCooldownShort(59 * 60000 + 1), "59 m")
        compare(page.formatCooldownShort(170 * day), "170 d")
        compare(page.formatCooldownShort(day - 1), "1 d")   // seconds round up
        compare(page.formatCooldownShort(day - 1001), "23 h")
        compare(page.cooldownLeft(at(10 * day), 180 * day, now), 170 * day)

        Lang.current = "fa"
        compare(page.formatCooldownShort(170 * day), "۱۷۰ روز")
        compare(page.formatCooldownShort(3 * hour), "۳ ساعت")
        compare(page.formatCooldownShort(30000), "۱ دقیقه")
        compare(page.cooldownLine(""), Lang.canChangeNow)
        compare(page.cooldownLine("۳ ساعت"), "تغییر بعدی پس از ۳ ساعت")
    }

    function test_datesFromTheServiceDriveTheCards() {
        const page = createTemporaryObject(pageComponent, testCase)
        compare(standIn.callsTo("fetchMe").length, 1)
        compare(standIn.callsTo("fetchPfpList").length, 1)

        standIn.meReceived("demo", agoIso(23 * hour), agoIso(10 * day), false)
        compare(child(page, "avatarCooldownText").text, "Next change in 1 h")
        compare(child(page, "usernameCooldownText").text, "Next change in 170 d")
        verify(child(page, "newUsernameField").readOnly)
        verify(child(page, "usernamePasswordField").readOnly)

        standIn.meReceived("demo", agoIso(25 * hour), "", false)
        compare(child(page, "avatarCooldownText").text, "You can change now")
        compare(child(page, "usernameCooldownText").text, "You can change now")
        verify(!child(page, "newUsernameField").readOnly)
    }

    function test_pictureChoiceRespectsTheCooldown() {
        const page = createTemporaryObject(pageComponent, testCase)
        standIn.pfpListReceived([{ id: 3, url: "/static/pfp/3.png", visibility: "public", extra: 1 }, "junk", { id: 4 }])
        compare(page.pfpItems.length, 2)
        compare(page.pfpItems[0].url, "/static/pfp/3.png")
        compare(page.pfpItems[1].url, "")

        standIn.meReceived("demo", agoIso(2 * hour), "", false)
        page.choosePicture(3)
        compare(standIn.callsTo("setMyAvatar").length, 0)
        compare(toastSpy.errors, ["You can't change the picture yet. 22 h"])

        standIn.meReceived("demo", "", "", false)
        page.choosePicture(3)
        compare(standIn.callsTo("setMyAvatar")[0].args[0], 3)

        standIn.avatarChangeSuccess(3, "http://svc.test:8480/static/pfp/3.png")
        compare(toastSpy.successes, ["Profile picture updated"])
        compare(standIn.callsTo("fetchMe").length, 2)

        // The service's own refusal names its time.
        standIn.avatarChangeCooldown(150)
        compare(toastSpy.errors[1], "You can't change the picture yet. 2 m")

        // The picker opens and asks for the list only when it is empty.
        page.pfpItems = []
        page.togglePicker()
        verify(page.pickerOpen)
        compare(standIn.callsTo("fetchPfpList").length, 2)
        page.togglePicker()
        verify(!page.pickerOpen)
    }

    function test_usernameChange() {
        const page = createTemporaryObject(pageComponent, testCase)
        const name = child(page, "newUsernameField")
        const password = child(page, "usernamePasswordField")
        const button = child(page, "changeUsernameButton")
        name.forceActiveFocus()
        keyClick(Qt.Key_A)
        keyClick(Qt.Key_Minus)
        keyClick(Qt.Key_B)
        compare(name.text, "ab")
        password.text = "pw"
        verify(!button.enabled)
        name.text = "demo"
        verify(!button.enabled)   // the current name
        name.forceActiveFocus()
        name.text = ""
        for (let i = 0; i < 21; ++i)
            keyClick(Qt.Key_X)
        compare(name.text.length, 20)
        name.text = "new_name"
        verify(button.enabled)
        standIn.busy = true
        verify(!button.enabled)
        standIn.busy = false
        mouseClick(button)
        compare(standIn.callsTo("changeUsername")[0].args, ["new_name", "pw"])

        standIn.usernameChangedRemote("new_name")
        compare(name.text, "")
        compare(password.text, "")
        compare(toastSpy.successes, ["Username changed — please log in again"])
        compare(standIn.callsTo("logout").length, 1)
    }

    function test_passwordChecks() {
        const page = createTemporaryObject(pageComponent, testCase)
        const oldField = child(page, "oldPasswordField")
        const newField = child(page, "newPasswordField")
        const confirmField = child(page, "confirmPasswordField")
        const button = child(page, "changePasswordButton")
        const caption = child(page, "passwordCaption")
        oldField.text = "old"
        newField.text = "abc"
        confirmField.text = "abc"
        verify(!button.enabled)
        newField.text = "abcd"
        confirmField.text = "abce"
        verify(button.enabled)
        mouseClick(button)
        compare(caption.text, "Passwords do not match")
        verify(caption.visible)
        compare(standIn.callsTo("changePassword").length, 0)

        confirmField.text = "abcd"
        mouseClick(button)
        compare(caption.text, "")
        verify(!caption.visible)
        compare(standIn.callsTo("changePassword")[0].args, ["old", "abcd"])

        standIn.passwordChanged("Password changed")
        compare(oldField.text, "")
        compare(newField.text, "")
        compare(confirmField.text, "")
        compare(toastSpy.successes, ["Password changed successfully"])
    }

    function test_realServiceRefusalKeepsFields() {
        testHost.use("api", realApi)
        const signedIn = createTemporaryObject(spyComponent, testCase, { target: realApi, signalName: "loginSuccess" })
        realApi.login("demo", "demo1234")
        signedIn.wait(10000)
        const errors = createTemporaryObject(spyComponent, testCase, { target: realApi, signalName: "requestError" })
        const page = createTemporaryObject(pageComponent, testCase)
        tryVerify(() => page.pfpItems.length >= 8, 10000)
        child(page, "newUsernameField").text = "demo_two"
        child(page, "usernamePasswordField").text = "wrong"
        page.submitUsername()
        errors.wait(10000)
        compare(errors.signalArguments[0][0], "Password is incorrect")
        compare(child(page, "newUsernameField").text, "demo_two")
        realApi.logout()
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }
}
