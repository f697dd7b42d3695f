import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "UpdateOverlay"
    width: 1000
    height: 700

    Component { id: overlayComponent; UpdateOverlay {} }

    function init() {
        updater.state = "idle"
        updater.statusText = ""
        updater.previousError = ""
        updater.remoteVersion = ""
        updater.fileCount = 0
        updater.totalBytes = 0
        updater.downloadedBytes = 0
        updater.progress = 0
        updater.downloadsStarted = 0
    }

    function cleanup() {
        Lang.current = ""
        checkWarnings()
    }

    function shown(overlay, name) {
        const item = findChild(overlay, name)
        return item !== null && item.visible
    }

    function test_sizes() {
        const overlay = createTemporaryObject(overlayComponent, testCase)
        compare(overlay.formatSize(1023), "1023 B")
        compare(overlay.formatSize(1536), "1.5 KB")
        compare(overlay.formatSize(5242880), "5.0 MB")
        compare(overlay.formatSize(0), "0 B")
    }

    function test_view_per_state() {
        const overlay = createTemporaryObject(overlayComponent, testCase)
        verify(!overlay.visible, "hidden while idle")

        updater.state = "checking"
        updater.statusText = "Checking for updates..."
        verify(overlay.visible)
        compare(findChild(overlay, "title").text, "Checking for Updates")
        verify(shown(overlay, "statusText"))
        verify(!shown(overlay, "previousErrorBanner"))
        updater.previousError = "copy failed"
        verify(shown(overlay, "previousErrorBanner"))

        updater.state = "update_available"
        updater.remoteVersion = "1.6.0"
        updater.fileCount = 3
        updater.totalBytes = 1536
        compare(findChild(overlay, "title").text, "Update Available")
        compare(findChild(overlay, "versionLine").text, "New version: 1.6.0")
        compare(findChild(overlay, "fileLine").text, "3 files • 1.5 KB")
        verify(!shown(overlay, "previousErrorBanner"), "the banner belongs to the check only")
        verify(!shown(overlay, "exitButton"))
        mouseClick(findChild(overlay, "updateNowButton"))
        compare(updater.downloadsStarted, 1)

        updater.state = "downloading"
        updater.downloadedBytes = 512
        updater.progress = 0.25
        verify(shown(overlay, "progressBar"))
        compare(findChild(overlay, "byteLine").text, "512 B / 1.5 KB")
        verify(!shown(overlay, "updateNowButton"), "no way back once the download runs")

        const titles = { verifying: "Verifying Files", staging: "Preparing", launching: "Restarting",
                         done: "Installing..." }
        for (const state in titles) {
            updater.state = state
            compare(findChild(overlay, "title").text, titles[state])
            verify(!shown(overlay, "exitButton") && !shown(overlay, "updateNowButton"))
        }

        updater.state = "error"
        updater.statusText = "Download failed"
        compare(findChild(overlay, "title").text, "Update Failed")
        verify(shown(overlay, "exitButton"), "a failure leaves only Exit")
        verify(!shown(overlay, "updateNowButton"))
        compare(findChild(overlay, "statusText").color, Theme.errorColor)

        updater.state = "something_new"
        verify(overlay.visible)
        compare(findChild(overlay, "title").text, "")
    }

    function test_persian_titles() {
        const overlay = createTemporaryObject(overlayComponent, testCase)
        Lang.current = "fa"
        updater.state = "verifying"
        compare(findChild(overlay, "title").text, "تأیید فایل\u200cها")
        updater.state = "update_available"
        updater.fileCount = 2
        updater.totalBytes = 2048
        // The unit after the number and Persian digits, as Persian reads it.
        compare(findChild(overlay, "fileLine").text, "۲ فایل • ۲٫۰ کیلوبایت")
    }
}
