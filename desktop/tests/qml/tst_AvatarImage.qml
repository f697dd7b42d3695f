import QtQuick
import QtTest
import "qrc:/qml/components"

// Pictures from testing/service: one whose bytes decode shows; one that does not
// leaves the letter, quietly (the test fails on any QML warning).
CorvanaTestCase {
    id: testCase
    name: "AvatarImage"
    width: 200
    height: 200

    StandInApi { id: standIn }
    property var realApi: null
    Component { id: avatarComponent; AvatarImage { size: 40 } }

    function initTestCase() { realApi = api }
    function init() {
        testHost.use("api", standIn)
        AvatarCache.clear()
    }
    function cleanup() {
        testHost.use("api", realApi)
        AvatarCache.clear()
        AvatarCache.failureCooldownMs = 60000
        checkWarnings()
    }

    function test_brokenPictureLeavesTheLetter_data() {
        return [{ tag: "a picture", broken: false }, { tag: "bytes that are no picture", broken: true }]
    }
    function test_brokenPictureLeavesTheLetter(data) {
        // A fresh address each time, so no cache answers for the service.
        const path = "/static/pfp/5.png"
        const url = realApi.baseUrl + path + "?n=" + Date.now()
        if (data.broken)
            testHost.call("POST", "/test/next", { path: path, status: 200, body: "not a picture", count: 5 })
        const avatar = createTemporaryObject(avatarComponent, testCase, { username: "sam" })
        const picture = findChild(avatar, "picture")
        const letter = avatar.children[0]
        standIn.avatarReceived("sam", url, "")
        compare(picture.url, url)
        if (data.broken) {
            tryVerify(() => AvatarCache.failed["sam"] !== undefined, 5000)
            compare(picture.status, Image.Null)
            verify(letter.visible)
        } else {
            tryCompare(picture, "status", Image.Ready, 5000)
            verify(!letter.visible)
        }
        testHost.resetService()
    }

    // A fetch its sign-in dropped leaves nothing pending: the avatar asks again
    // and shows the picture the new sign-in brings.
    function test_cancelledFetchIsAskedAgain() {
        standIn.clearCalls()
        const avatar = createTemporaryObject(avatarComponent, testCase, { username: "demo" })
        compare(standIn.callsTo("fetchAvatar").length, 1)
        standIn.avatarFetchCancelled("demo")
        compare(standIn.callsTo("fetchAvatar").length, 2)
        standIn.avatarReceived("demo", "https://cdn.example/demo.png", "")
        compare(findChild(avatar, "picture").url, "https://cdn.example/demo.png")
        // Nothing pending: a cancel that comes late asks nothing more.
        standIn.avatarFetchCancelled("demo")
        compare(standIn.callsTo("fetchAvatar").length, 2)
    }

    // The real client and service: a fetch that failed is asked again once its
    // cool-down is over, so one failure heals, and a name that keeps failing is
    // asked for at most once a cool-down (three asks need two of them).
    SignalSpy { id: signedIn; signalName: "loginSuccess" }
    function test_failedFetchIsAskedAgain_data() {
        return [{ tag: "one failure", failures: 1 }, { tag: "failing on", failures: 100 }]
    }
    function test_failedFetchIsAskedAgain(data) {
        const coolDown = 1000
        const path = "/api/users/demo/avatar"
        testHost.use("api", realApi)
        if (!realApi.loggedIn) {
            signedIn.target = realApi
            realApi.login("demo", "demo1234")
            signedIn.wait(10000)
        }
        testHost.resetService()
        testHost.call("POST", "/test/user", { username: "demo", avatar_url: "/static/pfp/2.png" })
        testHost.call("POST", "/test/next", { path: path, status: 404, count: data.failures })
        AvatarCache.failureCooldownMs = coolDown
        const started = Date.now()
        const avatar = createTemporaryObject(avatarComponent, testCase, { username: "demo" })
        if (data.failures === 1) {
            tryCompare(avatar, "source", realApi.baseUrl + "/static/pfp/2.png", 10000)
            compare(testHost.requestsTo(path).length, 2)
        } else {
            tryVerify(() => testHost.requestsTo(path).length >= 3, 10000)
            const taken = Date.now() - started
            verify(taken >= 2 * coolDown, "three asks in " + taken + " ms")
            compare(avatar.source, "")
        }
        testHost.call("POST", "/test/user", { username: "demo", avatar_url: "" })
        testHost.resetService()
    }

    // Every name costs the store the same, however many it knows (the bound only
    // catches a store that copies what it holds for each name).
    function test_manyNamesInAMoment() {
        const started = Date.now()
        for (let i = 0; i < 20000; ++i)
            AvatarCache.refresh("player" + i)
        for (let i = 0; i < 20000; ++i)
            standIn.avatarReceived("player" + i, "https://cdn.example/" + i + ".png", "")
        const taken = Date.now() - started
        console.log("avatar store: 20000 names in " + taken + " ms")
        compare(AvatarCache.urlFor("player19999"), "https://cdn.example/19999.png")
        verify(taken < freezeMs, "the store took " + taken + " ms")
    }

    // Only web addresses are fetched: a local file the service names is no picture.
    function test_localFileIsNoPicture() {
        const avatar = createTemporaryObject(avatarComponent, testCase, { username: "sam" })
        const picture = findChild(avatar, "picture")
        standIn.avatarReceived("sam", "file:///etc/hostname", "")
        compare(picture.url, "file:///etc/hostname")
        compare(String(picture.source), "")
        verify(avatar.children[0].visible)
    }
}
