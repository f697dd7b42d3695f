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
}
