import QtQuick
import QtQuick.Controls.Basic
import Qt5Compat.GraphicalEffects
import "../components"
import "../theme"

// The player's own account: picture, user name and password, with the
// service's cool-downs shown before a change is even tried.
Item {
    id: page

    property var toast: null

    property string avatarRotatedAt: ""
    property string usernameChangedAt: ""
    property var pfpItems: []
    property bool pickerOpen: false
    property double _nowMs: Date.now()
    property int clockIntervalMs: 30000
    property string passwordCaption: ""

    readonly property double dayMs: 86400000
    readonly property double avatarCooldownMs: cooldownLeft(avatarRotatedAt, dayMs, _nowMs)
    readonly property double usernameCooldownMs: cooldownLeft(usernameChangedAt, 180 * dayMs, _nowMs)
    readonly property string avatarCooldownText: formatCooldownShort(avatarCooldownMs)
    readonly property string usernameCooldownText: formatCooldownShort(usernameCooldownMs)
    readonly property bool canChangeUsername: newUsernameField.text.length >= 3 && usernamePasswordField.text !== ""
                                              && newUsernameField.text !== api.username && !api.busy
                                              && usernameCooldownMs <= 0
    readonly property bool canChangePassword: oldPasswordField.text !== "" && newPasswordField.text.length >= 4
                                              && confirmPasswordField.text !== "" && !api.busy

    // Time left of a cool-down that began at `stamp`. An empty or unreadable
    // time is long past; one in the future counts as just now, so a wrong
    // clock never locks a change for longer than the cool-down itself.
    function cooldownLeft(stamp, periodMs, nowMs) {
        const began = Date.parse(stamp)
        if (!stamp || isNaN(began))
            return 0
        return Math.max(0, Math.min(periodMs, periodMs - (nowMs - began)))
    }

    function formatCooldownShort(ms) {
        if (!(ms > 0))
            return ""
        const s = Math.ceil(ms / 1000)
        let count, unit
        if (s >= 86400) {
            count = Math.floor(s / 86400)
            unit = "d"
        } else if (s >= 3600) {
            count = Math.floor(s / 3600)
            unit = "h"
        } else {
            count = Math.max(1, Math.floor(s / 60))
            unit = "m"
        }
        return Lang.quantity(count, unit)
    }

    function cooldownLine(text) {
        return text === "" ? Lang.canChangeNow : Lang.nextChangeIn + " " + text
    }

    function pageShown() {
        _nowMs = Date.now()
        api.fetchMe()
        if (pfpItems.length === 0)
            api.fetchPfpList()
    }

    function togglePicker() {
        pickerOpen = !pickerOpen
        if (pickerOpen && pfpItems.length === 0)
            api.fetchPfpList()
    }

    function choosePicture(id) {
        if (avatarCooldownMs > 0) {
            if (toast)
                toast.error(Lang.avatarCooldownMsg + " " + avatarCooldownText)
            return
        }
        api.setMyAvatar(id)
    }

    function submitUsername() {
        if (canChangeUsername)
            api.changeUsername(newUsernameField.text, usernamePasswordField.text)
    }

    function submitPassword() {
        passwordCaption = ""
        if (newPasswordField.text !== confirmPasswordField.text) {
            passwordCaption = Lang.passwordsNoMatch
            return
        }
        if (newPasswordField.text.length < 4) {
            passwordCaption = Lang.passwordTooShort
            return
        }
        api.changePassword(oldPasswordField.text, newPasswordField.text)
    }

    onVisibleChanged: if (visible) pageShown()
    Component.onCompleted: if (visible) pageShown()

    Timer {
        interval: page.clockIntervalMs
        repeat: true
        running: page.visible
        onTriggered: page._nowMs = Date.now()
    }

    Connections {
        target: api
        function onMeReceived(username, avatarRotatedAt, usernameChangedAt, isAdmin) {
            page.avatarRotatedAt = avatarRotatedAt
            page.usernameChangedAt = usernameChangedAt
            page._nowMs = Date.now()
        }
        function onPfpListReceived(items) {
            const list = []
            for (let i = 0; i < (items ? items.length : 0); ++i) {
                const item = items[i]
                if (item !== null && typeof item === "object")
                    list.push({ id: item.id, url: item.url === undefined || item.url === null ? "" : String(item.url),
                                visibility: item.visibility === undefined ? "" : String(item.visibility) })
            }
            page.pfpItems = list
        }
        function onAvatarChangeSuccess(imageId, absoluteUrl) {
            api.fetchMe()
            if (page.toast)
                page.toast.success(Lang.avatarChangedMsg)
        }
        function onAvatarChangeCooldown(secondsRemaining) {
            api.fetchMe()
            if (page.toast)
                page.toast.error(Lang.avatarCooldownMsg + " " + page.formatCooldownShort(secondsRemaining * 1000))
        }
        function onUsernameChangedRemote(newUsername) {
            newUsernameField.text = ""
            usernamePasswordField.text = ""
            if (page.toast)
                page.toast.success(Lang.usernameChangedMsg)
            api.logout()
        }
        function onPasswordChanged(message) {
            oldPasswordField.text = ""
            newPasswordField.text = ""
            confirmPasswordField.text = ""
            page.passwordCaption = ""
            if (page.toast)
                page.toast.success(Lang.passwordChangedMsg)
        }
    }

    Flickable {
        id: scroller
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        anchors.topMargin: Theme.titleBarHeight + 8
        contentHeight: column.implicitHeight + Theme.spacingLarge
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: column
            width: scroller.width
            spacing: Theme.spacing

            Text {
                width: parent.width
                text: Lang.profileTitle
                textFormat: Text.PlainText
                color: Theme.textWhite
                font.family: Lang.titleFont
                font.pixelSize: Theme.fontSizeTitle
                font.bold: true
                horizontalAlignment: Text.AlignLeft
                bottomPadding: 8
            }

            // ---- Header --------------------------------------------------------
            GlassCard {
                width: parent.width
                height: 96
                elevated: true
                Row {
                    anchors.fill: parent
                    anchors.leftMargin: 20
                    anchors.rightMargin: 20
                    spacing: 16
                    AvatarImage {
                        objectName: "profileAvatar"
                        anchors.verticalCenter: parent.verticalCenter
                        username: api.username
                        size: 56
                    }
                    Column {
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 4
                        Text {
                            anchors.left: parent.left
                            text: api.username
                            textFormat: Text.PlainText
                            color: Theme.textWhite
                            font.family: Lang.titleFont
                            font.pixelSize: Theme.fontSizeHeading
                            font.bold: true
                        }
                        Text {
                            anchors.left: parent.left
                            text: Lang.profileSubtitle
                            textFormat: Text.PlainText
                            color: Theme.textSecondary
                            font.family: Lang.bodyFont
                            font.pixelSize: Theme.fontSizeBody
                        }
                    }
                }
            }

            // ---- Picture -------------------------------------------------------
            ProfileCard {
                title: Lang.profilePictureTitle
                status: page.cooldownLine(page.avatarCooldownText)
                statusObjectName: "avatarCooldownText"
                locked: page.avatarCooldownMs > 0

                PrimaryButton {
                    objectName: "pickerButton"
                    width: 200
                    anchors.left: parent.left
                    text: page.pickerOpen ? Lang.hidePicker : Lang.choosePicture
                    enabled: !api.busy
                    onClicked: page.togglePicker()
                }

                Grid {
                    id: picker
                    objectName: "picker"
                    visible: page.pickerOpen
                    width: parent.width
                    spacing: 12
                    columns: Math.max(4, Math.floor((width + spacing) / (80 + spacing)))
                    Repeater {
                        model: page.pickerOpen ? page.pfpItems : []
                        delegate: Item {
                            id: tile
                            objectName: "pfpTile_" + modelData.id
                            width: 80
                            height: 80
                            RemoteImage {
                                id: tileImage
                                anchors.fill: parent
                                url: modelData.url === "" ? "" : api.baseUrl + modelData.url
                                sourceSize: Qt.size(160, 160)
                                fillMode: Image.PreserveAspectCrop
                                visible: false
                            }
                            Rectangle {
                                id: tileMask
                                anchors.fill: parent
                                radius: 30
                                visible: false
                            }
                            OpacityMask {
                                anchors.fill: parent
                                source: tileImage
                                maskSource: tileMask
                                visible: tileImage.status === Image.Ready
                            }
                            Rectangle {
                                anchors.fill: parent
                                radius: 30
                                color: tileImage.status === Image.Ready ? "transparent" : Theme.glassBg
                                border.width: tileArea.containsMouse && page.avatarCooldownMs <= 0 ? 2 : 1
                                border.color: tileArea.containsMouse && page.avatarCooldownMs <= 0 ? Theme.accentLime : Theme.glassBorder
                            }
                            MouseArea {
                                id: tileArea
                                anchors.fill: parent
                                hoverEnabled: true
                                cursorShape: page.avatarCooldownMs > 0 ? Qt.ArrowCursor : Qt.PointingHandCursor
                                onClicked: page.choosePicture(modelData.id)
                            }
                            AppToolTip {
                                delay: 300
                                visible: tileArea.containsMouse && page.avatarCooldownMs > 0
                                text: Lang.nextChangeIn + " " + page.avatarCooldownText
                            }
                        }
                    }
                }
            }

            // ---- User name -----------------------------------------------------
            ProfileCard {
                title: Lang.changeUsername
                status: page.cooldownLine(page.usernameCooldownText)
                statusObjectName: "usernameCooldownText"
                locked: page.usernameCooldownMs > 0

                // Two fields and the button on one line; the button drops below them
                // when the card is too narrow for all three.
                Grid {
                    columns: parent.width >= 240 + 240 + 180 + 2 * spacing ? 3 : 2
                    spacing: 12
                    anchors.left: parent.left
                    StyledTextField {
                        id: newUsernameField
                        objectName: "newUsernameField"
                        width: 240
                        placeholderText: Lang.newUsernameLabel
                        maximumLength: 20
                        validator: RegularExpressionValidator { regularExpression: /[A-Za-z0-9_]{0,20}/ }
                        readOnly: api.busy || page.usernameCooldownMs > 0
                    }
                    StyledTextField {
                        id: usernamePasswordField
                        objectName: "usernamePasswordField"
                        width: 240
                        placeholderText: Lang.currentPassword
                        echoMode: TextInput.Password
                        LayoutMirroring.enabled: false
                        readOnly: api.busy || page.usernameCooldownMs > 0
                    }
                    PrimaryButton {
                        objectName: "changeUsernameButton"
                        width: 180
                        height: 44
                        text: Lang.changeUsernameBtn
                        enabled: page.canChangeUsername
                        onClicked: page.submitUsername()
                    }
                }
            }

            // ---- Password ------------------------------------------------------
            ProfileCard {
                title: Lang.changePassword

                Grid {
                    columns: page.width > 980 ? 4 : 2
                    spacing: 12
                    anchors.left: parent.left
                    StyledTextField {
                        id: oldPasswordField
                        objectName: "oldPasswordField"
                        width: 200
                        placeholderText: Lang.currentPassword
                        echoMode: TextInput.Password
                        LayoutMirroring.enabled: false
                        readOnly: api.busy
                    }
                    StyledTextField {
                        id: newPasswordField
                        objectName: "newPasswordField"
                        width: 200
                        placeholderText: Lang.newPassword
                        echoMode: TextInput.Password
                        LayoutMirroring.enabled: false
                        readOnly: api.busy
                    }
                    StyledTextField {
                        id: confirmPasswordField
                        objectName: "confirmPasswordField"
                        width: 200
                        placeholderText: Lang.confirmPassword
                        echoMode: TextInput.Password
                        LayoutMirroring.enabled: false
                        readOnly: api.busy
                    }
                    PrimaryButton {
                        objectName: "changePasswordButton"
                        width: 180
                        height: 44
                        text: Lang.changePasswordBtn
                        enabled: page.canChangePassword
                        onClicked: page.submitPassword()
                    }
                }
                ValidationText {
                    objectName: "passwordCaption"
                    width: parent.width
                    show: text !== ""
                    text: page.passwordCaption
                }
            }
        }
    }

    // A card with a title, a cool-down line at the far side and its controls below.
    component ProfileCard: GlassCard {
        id: card
        property string title
        property string status: ""
        property string statusObjectName: ""
        property bool locked: false
        default property alias controls: slot.data
        width: parent ? parent.width : 0
        height: slot.implicitHeight + 80
        Item {
            anchors.fill: parent
            anchors.margins: 20
            Text {
                anchors.left: parent.left
                text: card.title
                textFormat: Text.PlainText
                color: Theme.textPrimary
                font.family: Lang.titleFont
                font.pixelSize: 15
                font.bold: true
            }
            Text {
                objectName: card.statusObjectName
                anchors.right: parent.right
                visible: card.status !== ""
                text: card.status
                textFormat: Text.PlainText
                color: card.locked ? "#f3c84b" : "#9bf07e"
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeSmall
            }
            Column {
                id: slot
                y: 36
                width: parent.width
                spacing: 12
            }
        }
    }
}
