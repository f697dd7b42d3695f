import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/pages"

CorvanaTestCase {
    id: testCase
    name: "LoginPage"
    width: 1280
    height: 720

    StandInApi { id: standIn }
    Component { id: toastComponent; Toast {} }
    Component { id: pageComponent; LoginPage { anchors.fill: parent } }

    function initTestCase() { testHost.use("api", standIn) }

    function make() {
        standIn.clearCalls()
        standIn.busy = false
        const toast = createTemporaryObject(toastComponent, testCase)
        const page = createTemporaryObject(pageComponent, testCase, { toast: toast })
        return page
    }

    function caption(page, text) {
        // The caption with that text in the form shown.
        const stack = [findChild(page, page.showRegister ? "registerForm" : "loginForm")]
        while (stack.length) {
            const item = stack.pop()
            if (item.text === text && item.show !== undefined)
                return item
            for (let i = 0; i < item.children.length; ++i)
                stack.push(item.children[i])
        }
        return null
    }

    function test_captions_inform_but_never_block() {
        const page = make()
        const user = findChild(page, "loginUsername")
        const pass = findChild(page, "loginPassword")
        user.text = "ab"
        verify(caption(page, "Username must be at least 3 characters").visible)
        pass.text = "abc"
        verify(caption(page, "Password must be at least 4 characters").visible)
        page.submit()
        compare(standIn.callsTo("login").length, 1, "short texts still go out")
        compare(standIn.callsTo("login")[0].args, ["ab", "abc"])
        user.text = "abc"
        pass.text = "abcd"
        verify(!caption(page, "Username must be at least 3 characters").visible)
        verify(!caption(page, "Password must be at least 4 characters").visible)
    }

    function test_empty_fields_give_the_toast_only() {
        const page = make()
        findChild(page, "loginUsername").text = "demo"
        page.submit()
        compare(standIn.callsTo("login").length, 0)
        compare(page.toast.texts(), ["Please fill in all fields"])
        page.showRegister = true
        findChild(page, "regUsername").text = "newbie"
        findChild(page, "regPassword").text = "secret"
        page.submit()
        compare(standIn.callsTo("registerUser").length, 0, "an empty e-mail blocks the form")
        findChild(page, "regEmail").text = "a@b.c"
        page.submit()
        compare(standIn.callsTo("registerUser")[0].args, ["a@b.c", "newbie", "secret"])
    }

    function test_email_check() {
        const page = make()
        for (const good of ["a@b.co", "first.last@mail.example.org", "x@y.z"])
            verify(page.isEmailValid(good), good)
        for (const bad of ["a@bco", "@b.co", "a@@b.co", "a@b@c.co", "a@.co", "a@co.", "ab.co"])
            verify(!page.isEmailValid(bad), bad)
        page.showRegister = true
        findChild(page, "regEmail").text = "a@b@c.co"
        verify(caption(page, "Invalid email format").visible)
    }

    function test_form_switch_and_clear() {
        const page = make()
        page.prefillLogin("demo")
        compare(findChild(page, "loginUsername").text, "demo")
        findChild(page, "loginPassword").text = "pw"
        page.showRegister = true
        findChild(page, "regEmail").text = "a@b.c"
        page.showRegister = false
        compare(findChild(page, "loginUsername").text, "demo", "the prefilled name stays")
        compare(findChild(page, "loginPassword").text, "", "the password goes")
        page.showRegister = true
        compare(findChild(page, "regEmail").text, "", "the registration form starts empty")
        page.rememberChecked = true
        page.clearAll()
        verify(!page.rememberChecked)
    }

    function test_busy_freezes_the_form() {
        const page = make()
        const pass = findChild(page, "loginPassword")
        pass.text = "hidden"
        compare(pass.echoMode, TextInput.Password)
        mouseClick(findChild(pass, "eye"))
        compare(pass.echoMode, TextInput.Normal)
        compare(pass.text, "hidden", "showing keeps the text")
        standIn.busy = true
        mouseClick(findChild(pass, "eye"))
        compare(pass.echoMode, TextInput.Normal, "the eye does nothing while busy")
        verify(pass.readOnly && findChild(page, "loginUsername").readOnly)
        verify(findChild(page, "loginButton").loading)
        findChild(page, "loginUsername").text = "demo"
        page.submit()
        compare(standIn.callsTo("login").length, 0, "nothing is sent while a request runs")
    }
}
