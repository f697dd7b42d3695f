import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../components"
import "../theme"

// Sign-in and registration forms beside the brand panel. Only collects input:
// ApiHandler deals with the outcome.
Item {
    id: page
    property bool showRegister: false
    property alias rememberChecked: rememberBox.checked
    property alias regUsernameText: regUsername.text
    property var toast: null

    readonly property bool busy: api.busy

    function prefillLogin(username) {
        loginUsername.text = username
        loginPassword.text = ""
    }

    function clearAll() {
        loginUsername.text = ""
        loginPassword.text = ""
        rememberBox.checked = false
        regEmail.text = ""
        regUsername.text = ""
        regPassword.text = ""
    }

    // One "@" with something before it, and after it a dot with something on both sides.
    function isEmailValid(text) {
        return /^[^@]+@[^@]+\.[^@]+$/.test(text)
    }

    function submitLogin() {
        if (busy)
            return
        if (loginUsername.text.length === 0 || loginPassword.text.length === 0) {
            if (toast)
                toast.error(Lang.fillAllFields)
            return
        }
        api.login(loginUsername.text, loginPassword.text)
    }

    function submitRegister() {
        if (busy)
            return
        if (regEmail.text.length === 0 || regUsername.text.length === 0 || regPassword.text.length === 0) {
            if (toast)
                toast.error(Lang.fillAllFields)
            return
        }
        api.registerUser(regEmail.text, regUsername.text, regPassword.text)
    }

    // Return on the login page acts on the visible form.
    function submit() {
        if (showRegister)
            submitRegister()
        else
            submitLogin()
    }

    onShowRegisterChanged: {
        if (showRegister) {
            regEmail.text = ""
            regUsername.text = ""
            regPassword.text = ""
        } else {
            loginPassword.text = ""
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.topMargin: Theme.titleBarHeight
        spacing: 0

        // Brand
        Item {
            Layout.preferredWidth: page.width * 0.42
            Layout.fillHeight: true
            Column {
                anchors.centerIn: parent
                anchors.verticalCenterOffset: -Theme.titleBarHeight / 2
                spacing: 14
                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 160
                    height: 160
                    sourceSize: Qt.size(320, 320)
                    source: "qrc:/icons/logo.svg"
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Corvana"
                    textFormat: Text.PlainText
                    color: Theme.textWhite
                    font.family: Lang.titleFont
                    font.pixelSize: 38
                    font.bold: true
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: Lang.appTagline
                    textFormat: Text.PlainText
                    color: Theme.textSecondary
                    font.family: Lang.bodyFont
                    font.pixelSize: 14
                }
            }
        }

        Rectangle {
            Layout.preferredWidth: 1
            Layout.preferredHeight: page.height * 0.6
            Layout.alignment: Qt.AlignVCenter
            color: Theme.glassBorder
        }

        // Forms
        Item {
            id: formPanel
            Layout.fillWidth: true
            Layout.fillHeight: true
            readonly property real formWidth: Math.min(320, width - 80)
            // A short window (down to the smallest) gets tighter forms.
            readonly property bool compact: height < 560
            readonly property int fieldHeight: compact ? 40 : 44

            // A form stands where it does without captions, raised only as far as
            // it needs to keep every caption inside the panel; so a caption
            // appearing under a field moves nothing above it.
            function formY(form) {
                let bare = form.height
                let full = form.height
                for (let i = 0; i < form.children.length; ++i) {
                    const item = form.children[i]
                    if (item.show === undefined) // not a ValidationText
                        continue
                    if (item.visible)
                        bare -= item.implicitHeight + form.spacing
                    else
                        full += item.implicitHeight + form.spacing
                }
                const centred = (height - bare) / 2 - (compact ? 0 : Theme.titleBarHeight / 2)
                return Math.max(0, Math.min(centred, height - full))
            }

            // Login form
            Column {
                id: loginForm
                objectName: "loginForm"
                visible: !page.showRegister
                anchors.horizontalCenter: parent.horizontalCenter
                y: formPanel.formY(loginForm)
                width: formPanel.formWidth
                spacing: formPanel.compact ? 6 : 10

                FormTitle { title: Lang.signIn; subtitle: Lang.signInSubtitle; compact: formPanel.compact }
                FieldLabel { text: Lang.username }
                StyledTextField {
                    id: loginUsername
                    objectName: "loginUsername"
                    width: parent.width
                    height: formPanel.fieldHeight
                    placeholderText: Lang.usernamePlaceholder
                    readOnly: page.busy
                }
                ValidationText {
                    width: parent.width
                    show: loginUsername.text.length > 0 && loginUsername.text.length < 3
                    text: Lang.usernameTooShort
                }
                FieldLabel { text: Lang.password }
                PasswordField {
                    id: loginPassword
                    objectName: "loginPassword"
                    width: parent.width
                    height: formPanel.fieldHeight
                    placeholderText: Lang.passwordPlaceholder
                }
                ValidationText {
                    width: parent.width
                    show: loginPassword.text.length > 0 && loginPassword.text.length < 4
                    text: Lang.passwordTooShort
                }
                CheckBox {
                    id: rememberBox
                    objectName: "rememberBox"
                    anchors.left: parent.left
                    anchors.right: parent.right
                    checkable: !page.busy
                    padding: 0
                    text: Lang.rememberMe
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    indicator: Rectangle {
                        x: rememberBox.mirrored ? rememberBox.width - width : 0
                        anchors.verticalCenter: parent.verticalCenter
                        width: 18
                        height: 18
                        radius: 5
                        color: rememberBox.checked ? Theme.primaryPurple : Theme.glassBg
                        border.width: 1
                        border.color: rememberBox.checked ? Theme.primaryPurple : Theme.glassBorder
                        Text {
                            anchors.centerIn: parent
                            visible: rememberBox.checked
                            text: "\u2713"
                            color: Theme.textWhite
                            font.pixelSize: 12
                            font.bold: true
                        }
                    }
                    contentItem: Text {
                        leftPadding: rememberBox.mirrored ? 0 : 26
                        rightPadding: rememberBox.mirrored ? 26 : 0
                        text: rememberBox.text
                        textFormat: Text.PlainText
                        font: rememberBox.font
                        color: Theme.textSecondary
                        horizontalAlignment: Text.AlignLeft
                        verticalAlignment: Text.AlignVCenter
                    }
                }
                Item { width: 1; height: 4; visible: !formPanel.compact }
                PrimaryButton {
                    objectName: "loginButton"
                    width: parent.width
                    height: formPanel.fieldHeight
                    text: Lang.login
                    loading: page.busy && !page.showRegister
                    onClicked: page.submitLogin()
                }
                SwitchLine {
                    question: Lang.noAccount
                    link: Lang.registerLink
                    onActivated: page.showRegister = true
                }
            }

            // Registration form
            Column {
                id: registerForm
                objectName: "registerForm"
                visible: page.showRegister
                anchors.horizontalCenter: parent.horizontalCenter
                y: formPanel.formY(registerForm)
                width: formPanel.formWidth
                spacing: formPanel.compact ? 6 : 10

                FormTitle { title: Lang.signUp; subtitle: Lang.signUpSubtitle; compact: formPanel.compact }
                FieldLabel { text: Lang.email }
                StyledTextField {
                    id: regEmail
                    objectName: "regEmail"
                    width: parent.width
                    height: formPanel.fieldHeight
                    placeholderText: Lang.emailPlaceholder
                    readOnly: page.busy
                    inputMethodHints: Qt.ImhEmailCharactersOnly
                }
                ValidationText {
                    width: parent.width
                    show: regEmail.text.length > 0 && !page.isEmailValid(regEmail.text)
                    text: Lang.emailInvalid
                }
                FieldLabel { text: Lang.username }
                StyledTextField {
                    id: regUsername
                    objectName: "regUsername"
                    width: parent.width
                    height: formPanel.fieldHeight
                    placeholderText: Lang.usernamePlaceholder
                    readOnly: page.busy
                }
                ValidationText {
                    width: parent.width
                    show: regUsername.text.length > 0 && regUsername.text.length < 3
                    text: Lang.usernameTooShort
                }
                FieldLabel { text: Lang.password }
                PasswordField {
                    id: regPassword
                    objectName: "regPassword"
                    width: parent.width
                    height: formPanel.fieldHeight
                    placeholderText: Lang.passwordPlaceholder
                }
                ValidationText {
                    width: parent.width
                    show: regPassword.text.length > 0 && regPassword.text.length < 4
                    text: Lang.passwordTooShort
                }
                Item { width: 1; height: 4; visible: !formPanel.compact }
                PrimaryButton {
                    objectName: "registerButton"
                    width: parent.width
                    height: formPanel.fieldHeight
                    text: Lang.register
                    loading: page.busy && page.showRegister
                    onClicked: page.submitRegister()
                }
                SwitchLine {
                    question: Lang.haveAccount
                    link: Lang.loginLink
                    onActivated: page.showRegister = false
                }
            }
        }
    }

    component FormTitle: Column {
        property string title
        property string subtitle
        property bool compact: false
        width: parent ? parent.width : 0
        spacing: 4
        bottomPadding: compact ? 4 : 10
        Text {
            width: parent.width
            text: parent.title
            textFormat: Text.PlainText
            color: Theme.textWhite
            font.family: Lang.titleFont
            font.pixelSize: parent.compact ? 22 : Theme.fontSizeTitle
            font.bold: true
            horizontalAlignment: Text.AlignLeft
        }
        Text {
            width: parent.width
            text: parent.subtitle
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            horizontalAlignment: Text.AlignLeft
        }
    }

    component FieldLabel: Text {
        width: parent ? parent.width : 0
        textFormat: Text.PlainText
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.bold: true
        font.letterSpacing: Lang.isPersian ? 0 : 0.6
        horizontalAlignment: Text.AlignLeft
    }

    // Password field with its show/hide eye; never mirrored, so the eye stays at the right.
    component PasswordField: StyledTextField {
        id: pw
        property bool revealed: false
        LayoutMirroring.enabled: false
        LayoutMirroring.childrenInherit: true
        readOnly: api.busy
        echoMode: revealed ? TextInput.Normal : TextInput.Password
        rightPadding: 44
        // Right-to-left text still reads from the right, clear of the eye.
        horizontalAlignment: Lang.isPersian ? TextInput.AlignRight : TextInput.AlignLeft
        Image {
            anchors.right: parent.right
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            width: 18
            height: 18
            sourceSize: Qt.size(36, 36)
            source: pw.revealed ? "qrc:/icons/eye-off.svg" : "qrc:/icons/eye.svg"
            opacity: eyeArea.containsMouse ? 0.9 : 0.55
            MouseArea {
                id: eyeArea
                objectName: "eye"
                anchors.fill: parent
                anchors.margins: -6
                hoverEnabled: true
                cursorShape: api.busy ? Qt.ArrowCursor : Qt.PointingHandCursor
                onClicked: if (!api.busy) pw.revealed = !pw.revealed
            }
        }
    }

    component SwitchLine: Row {
        property string question
        property string link
        signal activated()
        anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
        spacing: 6
        Text {
            text: parent.question
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
        }
        Text {
            id: linkText
            text: parent.link
            textFormat: Text.PlainText
            color: linkArea.containsMouse ? Qt.lighter(Theme.accentLime, 1.15) : Theme.accentLime
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
            font.underline: linkArea.containsMouse
            MouseArea {
                id: linkArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: if (!api.busy) linkText.parent.activated()
            }
        }
    }
}
