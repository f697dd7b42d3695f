import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../components"
import "../../theme"

// Join a room by its code, or create one for a game: one card, two faces.
GlassCard {
    id: card

    property var games: []
    // A short page: the create form packs tighter.
    property bool compact: false
    property bool showCreateMode: false
    property int capacityValue: 5
    property real selectedGameId: 0 // a real: ids past 2^31 keep their value

    // What a finished join or create leaves behind goes.
    function resetForms() {
        joinField.text = ""
        capacityValue = 5
        publicCheck.checked = true
        showCreateMode = false
    }

    function forget() {
        selectedGameId = 0
        gameSearchField.text = ""
        resetForms()
    }

    Behavior on height { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }

    // Join by code
    ColumnLayout {
        id: joinForm
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        spacing: Theme.spacingSmall
        visible: !card.showCreateMode

        CardTitle {
            text: Lang.joinVlan
            Layout.fillWidth: true
        }
        SectionLabel {
            text: Lang.vlanId
            Layout.topMargin: Theme.spacingSmall
        }
        StyledTextField {
            id: joinField
            objectName: "joinField"
            Layout.fillWidth: true
            placeholderText: Lang.vlanPlaceholder
            maximumLength: 6
            validator: RegularExpressionValidator { regularExpression: /[A-Za-z0-9]{0,6}/ }
            inputMethodHints: Qt.ImhNoPredictiveText
            readOnly: api.busy
            opacity: api.busy ? 0.5 : 1
            font.family: text.length > 0 ? Theme.monoFont : Lang.bodyFont
            font.letterSpacing: text.length > 0 ? 2 : 0
            // Codes are Latin: left to right in both languages.
            LayoutMirroring.enabled: false
            horizontalAlignment: text.length > 0 || !Lang.isPersian ? TextInput.AlignLeft : TextInput.AlignRight
            onAccepted: if (joinButton.enabled) joinButton.clicked()
        }
        PrimaryButton {
            id: joinButton
            objectName: "joinButton"
            Layout.fillWidth: true
            Layout.topMargin: Theme.spacingSmall
            text: Lang.joinVlanBtn
            accent: true
            loading: api.busy
            enabled: joinField.text.length === 6 && !api.busy
            onClicked: api.joinVlan(joinField.text.toUpperCase())
        }
        LinkText {
            id: toCreateLink
            objectName: "toCreateLink"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: Theme.spacingSmall
            text: Lang.orCreateNew
            onClicked: card.showCreateMode = true
        }
        Item { Layout.fillHeight: true }
    }

    // Create for a game
    ColumnLayout {
        id: createForm
        anchors.fill: parent
        anchors.margins: Theme.spacingLarge
        spacing: card.compact ? 4 : Theme.spacingSmall
        visible: card.showCreateMode

        CardTitle {
            text: Lang.createVlan
            Layout.fillWidth: true
        }
        SectionLabel {
            text: Lang.selectGame
            Layout.topMargin: Theme.spacingSmall
        }
        StyledTextField {
            id: gameSearchField
            objectName: "gameSearchField"
            Layout.fillWidth: true
            implicitHeight: 38
            padding: 10
            placeholderText: Lang.searchPlaceholder
        }
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 80
            radius: Theme.borderRadiusSmall
            color: Qt.rgba(0, 0, 0, 0.15)
            border.width: 1
            border.color: Theme.glassBorder
            clip: true

            ListView {
                id: gameList
                objectName: "gameList"
                anchors.fill: parent
                anchors.margins: 4
                boundsBehavior: Flickable.StopAtBounds
                model: {
                    const needle = gameSearchField.text.toLowerCase()
                    return card.games.filter(g => g.game_name.toLowerCase().indexOf(needle) >= 0)
                }
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                delegate: GameRow {
                    id: gameRow
                    selected: gameRow.modelData.id === card.selectedGameId
                    onPicked: card.selectedGameId = gameRow.modelData.id
                }
            }
        }
        SectionLabel {
            text: Lang.capacityLabel
            Layout.topMargin: 4
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacingSmall
            Slider {
                id: capacitySlider
                objectName: "capacitySlider"
                Layout.fillWidth: true
                from: 2
                to: 50
                stepSize: 1
                snapMode: Slider.SnapAlways
                value: card.capacityValue
                onMoved: card.capacityValue = Math.round(value)
                background: Rectangle {
                    x: capacitySlider.leftPadding
                    y: capacitySlider.topPadding + capacitySlider.availableHeight / 2 - height / 2
                    width: capacitySlider.availableWidth
                    height: 4
                    radius: 2
                    color: Theme.glassHover
                    Rectangle {
                        x: capacitySlider.mirrored ? parent.width - width : 0
                        width: capacitySlider.visualPosition * parent.width
                            * (capacitySlider.mirrored ? -1 : 1) + (capacitySlider.mirrored ? parent.width : 0)
                        height: parent.height
                        radius: 2
                        color: Theme.primaryPurple
                    }
                }
                handle: Rectangle {
                    x: capacitySlider.leftPadding + capacitySlider.visualPosition * (capacitySlider.availableWidth - width)
                    y: capacitySlider.topPadding + capacitySlider.availableHeight / 2 - height / 2
                    width: 16
                    height: 16
                    radius: 8
                    color: Theme.accentLime
                }
            }
            Rectangle {
                implicitWidth: 46
                implicitHeight: 30
                radius: 8
                color: Theme.glassBg
                border.width: 1
                border.color: Theme.glassBorder
                Text {
                    anchors.centerIn: parent
                    text: Lang.number(card.capacityValue)
                    textFormat: Text.PlainText
                    color: Theme.textWhite
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeBody
                    font.bold: true
                }
            }
        }
        CheckBox {
            id: publicCheck
            objectName: "publicCheck"
            checked: true
            text: Lang.publicVlan
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            indicator: Rectangle {
                x: publicCheck.mirrored ? publicCheck.width - width - publicCheck.leftPadding : publicCheck.leftPadding
                y: (publicCheck.height - height) / 2
                implicitWidth: 18
                implicitHeight: 18
                radius: 5
                color: publicCheck.checked ? Theme.primaryPurple : "transparent"
                border.width: 1
                border.color: publicCheck.checked ? Theme.primaryPurple : Theme.textDimmed
                Text {
                    anchors.centerIn: parent
                    visible: publicCheck.checked
                    text: "\u2713"
                    color: Theme.textWhite
                    font.pixelSize: 12
                }
            }
            contentItem: Text {
                leftPadding: publicCheck.mirrored ? 0 : publicCheck.indicator.width + publicCheck.spacing
                rightPadding: publicCheck.mirrored ? publicCheck.indicator.width + publicCheck.spacing : 0
                text: publicCheck.text
                textFormat: Text.PlainText
                color: Theme.textPrimary
                font: publicCheck.font
                verticalAlignment: Text.AlignVCenter
            }
        }
        PrimaryButton {
            id: createButton
            objectName: "createButton"
            Layout.fillWidth: true
            text: Lang.createBtn
            accent: true
            loading: api.busy
            enabled: card.selectedGameId > 0 && !api.busy
            onClicked: api.createVlan(card.selectedGameId, card.capacityValue, !publicCheck.checked)
        }
        LinkText {
            id: backLink
            objectName: "backLink"
            Layout.alignment: Qt.AlignHCenter
            text: Lang.backToJoin
            onClicked: card.showCreateMode = false
        }
    }

    component SectionLabel: Text {
        textFormat: Text.PlainText
        color: Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.bold: true
        font.letterSpacing: Lang.isPersian ? 0 : 0.6
    }

    component LinkText: Text {
        id: link
        signal clicked()
        textFormat: Text.PlainText
        color: linkMouse.containsMouse ? Theme.accentLime : Theme.textSecondary
        font.family: Lang.bodyFont
        font.pixelSize: Theme.fontSizeSmall
        font.underline: linkMouse.containsMouse
        MouseArea {
            id: linkMouse
            anchors.fill: parent
            anchors.margins: -4
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: link.clicked()
        }
    }
}
