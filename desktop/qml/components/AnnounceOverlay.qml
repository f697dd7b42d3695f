import QtQuick
import QtMultimedia
import "../theme"
import "TextDirection.js" as TextDirection

// Pop-up for a new announcement, with a short sound.
Item {
    id: overlay
    property string title: ""
    property string body: ""
    property real announceId: 0 // a real: ids past 2^31 keep their value
    readonly property bool titleRtl: isRtlText(title)
    readonly property bool bodyRtl: isRtlText(body)
    signal openAnnouncements()
    signal dismissed()

    anchors.fill: parent
    visible: false

    // The pop-up weighs Arabic-script letters only.
    function isRtlText(text) {
        return TextDirection.isRtlText(text, false)
    }

    function show(t, b, id) {
        title = t === undefined || t === null ? "" : String(t)
        body = b === undefined || b === null ? "" : String(b)
        announceId = id
        outAnimation.stop()
        visible = true
        inAnimation.restart()
        playSound()
    }

    function hide() {
        if (!visible || outAnimation.running)
            return
        inAnimation.stop()
        outAnimation.restart()
    }

    // The bundled sound where the machine has an audio output; elsewhere the
    // system's own notification sound, so the pop-up is never silent by accident.
    function playSound() {
        if (devices.audioOutputs.length > 0)
            sound.play()
        else
            logger.playNotificationSound()
    }

    MediaDevices { id: devices }
    SoundEffect {
        id: sound
        source: "qrc:/sounds/notification.wav"
    }

    ParallelAnimation {
        id: inAnimation
        NumberAnimation { target: card; property: "opacity"; from: 0; to: 1; duration: 250 }
        NumberAnimation { target: card; property: "scale"; from: 0.9; to: 1; duration: 250; easing.type: Easing.OutBack }
    }
    SequentialAnimation {
        id: outAnimation
        ParallelAnimation {
            NumberAnimation { target: card; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: card; property: "scale"; to: 0.9; duration: 200 }
        }
        ScriptAction {
            script: {
                overlay.visible = false
                overlay.dismissed()
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        radius: Theme.windowRadius
        color: Qt.rgba(0, 0, 0, 0.6)
        opacity: card.opacity
        MouseArea {
            objectName: "announceDim"
            anchors.fill: parent
            hoverEnabled: true
            onClicked: overlay.hide()
        }
    }

    Rectangle {
        id: card
        objectName: "announceCard"
        anchors.centerIn: parent
        width: Math.min(400, overlay.width - 60)
        height: content.implicitHeight + 48
        radius: Theme.borderRadius
        color: Theme.toastBg
        border.width: 1
        border.color: Theme.glassBorder
        MouseArea { anchors.fill: parent }

        Column {
            id: content
            anchors.centerIn: parent
            width: parent.width - 48
            spacing: 14

            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 44
                height: 44
                radius: 22
                color: Qt.rgba(Theme.accentLime.r, Theme.accentLime.g, Theme.accentLime.b, 0.12)
                Image {
                    anchors.centerIn: parent
                    width: 20
                    height: 20
                    sourceSize: Qt.size(40, 40)
                    source: "qrc:/icons/bolt.svg"
                }
            }
            Text {
                objectName: "announceTitle"
                width: parent.width
                text: overlay.title
                textFormat: Text.PlainText
                color: Theme.textWhite
                font.family: overlay.titleRtl ? Lang.persianFont : Lang.latinFont
                font.pixelSize: 17
                font.bold: true
                elide: Text.ElideRight
                maximumLineCount: 1
                horizontalAlignment: Text.AlignHCenter
            }
            Text {
                id: bodyText
                objectName: "announceBody"
                width: parent.width
                text: overlay.body
                textFormat: Text.PlainText
                color: Theme.textSecondary
                font.family: overlay.bodyRtl ? Lang.persianFont : Lang.latinFont
                font.pixelSize: Theme.fontSizeBody
                lineHeight: 1.3
                wrapMode: Text.Wrap
                maximumLineCount: 4
                elide: Text.ElideRight
                horizontalAlignment: overlay.bodyRtl ? Text.AlignRight : Text.AlignLeft
                // Aligned by its own script, not by the window's language.
                LayoutMirroring.enabled: false
            }
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12
                PrimaryButton {
                    objectName: "readMoreButton"
                    width: 150
                    accent: true
                    text: Lang.readMore
                    onClicked: {
                        overlay.hide()
                        overlay.openAnnouncements()
                    }
                }
                PrimaryButton {
                    objectName: "laterButton"
                    width: 110
                    text: Lang.later
                    buttonColor: Theme.glassHover
                    onClicked: overlay.hide()
                }
            }
        }
    }
}
