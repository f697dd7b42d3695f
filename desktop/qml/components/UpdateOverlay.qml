import QtQuick
import "../theme"

// Blocks the window while the update check runs and shows the download through
// to the hand-over; a failure leaves only Exit.
Item {
    id: overlay
    readonly property string updateState: updater.state
    readonly property bool fa: Lang.isPersian

    anchors.fill: parent
    visible: updateState !== "idle"

    function titleFor(state) {
        switch (state) {
        case "checking": return fa ? "بررسی بروزرسانی" : "Checking for Updates"
        case "update_available": return fa ? "بروزرسانی موجود است" : "Update Available"
        case "downloading": return fa ? "در حال دانلود" : "Downloading Update"
        case "verifying": return fa ? "تأیید فایل‌ها" : "Verifying Files"
        case "staging": return fa ? "آماده‌سازی" : "Preparing"
        case "launching": return fa ? "راه‌اندازی مجدد" : "Restarting"
        case "done": return fa ? "در حال نصب..." : "Installing..."
        case "error": return fa ? "خطا در بروزرسانی" : "Update Failed"
        default: return ""
        }
    }

    function formatSize(bytes) {
        return Lang.size(bytes)
    }

    readonly property string fileLine: Lang.quantity(updater.fileCount, "files") + " • " + formatSize(updater.totalBytes)
    readonly property string byteLine: formatSize(updater.downloadedBytes) + " / " + formatSize(updater.totalBytes)
    readonly property bool showsSpinner: ["checking", "verifying", "staging", "launching", "done"].indexOf(updateState) >= 0
    readonly property bool showsProgress: updateState === "downloading" || updateState === "verifying"
    readonly property bool showsFiles: updateState === "update_available" || updateState === "downloading"

    // The overlay holds the keyboard: its button has the focus (the overlay itself
    // when it shows none), Tab stays on the card, and no other key goes beneath.
    readonly property Item focusButton: updateState === "update_available" ? updateNowButton
                                        : updateState === "error" ? exitButton : null
    function takeFocus() {
        if (!visible)
            return
        if (focusButton)
            focusButton.forceActiveFocus(Qt.TabFocusReason)
        else
            forceActiveFocus()
    }
    onVisibleChanged: takeFocus()
    onFocusButtonChanged: takeFocus()
    Component.onCompleted: takeFocus()
    Keys.onPressed: event => {
        if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab)
            takeFocus()
        event.accepted = true
    }

    Rectangle {
        anchors.fill: parent
        radius: Theme.windowRadius
        color: Qt.rgba(0, 0, 0, 0.85)
    }
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    Rectangle {
        objectName: "previousErrorBanner"
        visible: overlay.updateState === "checking" && updater.previousError.length > 0
        anchors.top: parent.top
        anchors.topMargin: Theme.titleBarHeight
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width - 40, 520)
        height: 36
        radius: 10
        color: Qt.rgba(Theme.errorColor.r, Theme.errorColor.g, Theme.errorColor.b, 0.9)
        Text {
            anchors.centerIn: parent
            text: overlay.fa ? "بروزرسانی قبلی با خطا مواجه شد" : "Previous update failed"
            textFormat: Text.PlainText
            color: Theme.textWhite
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
    }

    Rectangle {
        id: card
        anchors.centerIn: parent
        width: 420
        height: column.implicitHeight + 56
        radius: Theme.borderRadius
        color: Theme.toastBg
        border.width: 1
        border.color: Theme.glassBorder

        Column {
            id: column
            anchors.centerIn: parent
            width: parent.width - 56
            spacing: 14

            Image {
                anchors.horizontalCenter: parent.horizontalCenter
                visible: overlay.updateState !== "error"
                width: 40
                height: 40
                sourceSize: Qt.size(80, 80)
                source: "qrc:/icons/logo.svg"
            }
            Text {
                objectName: "title"
                width: parent.width
                text: overlay.titleFor(overlay.updateState)
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textWhite
                font.family: Lang.titleFont
                font.pixelSize: Theme.fontSizeHeading
                font.bold: true
            }
            Text {
                objectName: "statusText"
                width: parent.width
                visible: updater.statusText.length > 0
                text: updater.statusText
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                color: overlay.updateState === "error" ? Theme.errorColor : Theme.textSecondary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
            }
            Text {
                objectName: "versionLine"
                width: parent.width
                visible: overlay.updateState === "update_available" && updater.remoteVersion.length > 0
                text: (overlay.fa ? "نسخه جدید: " : "New version: ") + updater.remoteVersion
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                color: Theme.accentLime
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
            }
            Text {
                objectName: "fileLine"
                width: parent.width
                visible: overlay.showsFiles
                text: overlay.fileLine
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textSecondary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeSmall
            }
            Rectangle {
                objectName: "progressBar"
                visible: overlay.showsProgress
                width: parent.width
                height: 6
                radius: 3
                color: Theme.glassBorder
                Rectangle {
                    objectName: "progressFill"
                    // From the reading side, like every bar of the window.
                    anchors.left: parent.left
                    width: parent.width * Math.max(0, Math.min(1, updater.progress))
                    height: parent.height
                    radius: 3
                    color: Theme.accentLime
                }
            }
            Text {
                objectName: "byteLine"
                width: parent.width
                visible: overlay.updateState === "downloading"
                text: overlay.byteLine
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textSecondary
                font.family: Lang.figureFont
                font.pixelSize: Theme.fontSizeSmall
            }
            BusySpinner {
                anchors.horizontalCenter: parent.horizontalCenter
                visible: overlay.showsSpinner
                width: 24
                height: 24
                color: Theme.accentLime
            }
            PrimaryButton {
                id: updateNowButton
                objectName: "updateNowButton"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: overlay.updateState === "update_available"
                accent: true
                text: overlay.fa ? "بروزرسانی" : "Update Now"
                activeFocusOnTab: false
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                onClicked: updater.startDownload()
            }
            PrimaryButton {
                id: exitButton
                objectName: "exitButton"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: overlay.updateState === "error"
                buttonColor: Theme.errorColor
                text: overlay.fa ? "خروج" : "Exit"
                activeFocusOnTab: false
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                onClicked: Qt.quit()
            }
        }
    }
}
