import QtQuick
import Qt5Compat.GraphicalEffects
import "../theme"

// Round avatar; the first letter of the name stands in until the picture is ready,
// and for good when it cannot be loaded.
Item {
    id: avatar
    property string username: ""
    property int size: 28
    property color borderColor: Theme.avatarBorder
    property color fallbackBg: Theme.avatarBg
    property string source: AvatarCache.urlFor(username)

    width: size
    height: size

    Connections {
        target: AvatarCache
        function onAvatarChanged(name) {
            if (name === avatar.username)
                avatar.source = AvatarCache.urlFor(avatar.username)
        }
    }
    onUsernameChanged: source = AvatarCache.urlFor(username)

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: avatar.fallbackBg
        border.width: 1
        border.color: avatar.borderColor
        visible: picture.status !== Image.Ready
        Text {
            anchors.centerIn: parent
            text: avatar.username.length > 0 ? avatar.username.charAt(0).toUpperCase() : ""
            textFormat: Text.PlainText
            color: Theme.textPrimary
            font.bold: true
            font.pixelSize: Math.max(10, Math.round(avatar.size * 0.42))
            font.family: Lang.bodyFont
        }
    }

    RemoteImage {
        id: picture
        objectName: "picture"
        anchors.fill: parent
        url: avatar.source
        cache: true
        fillMode: Image.PreserveAspectCrop
        sourceSize: Qt.size(avatar.size * 2, avatar.size * 2)
        visible: false
        onFailed: AvatarCache.markFailed(avatar.username)
        onStatusChanged: if (status === Image.Error) AvatarCache.markFailed(avatar.username)
    }
    Rectangle {
        id: mask
        anchors.fill: parent
        radius: width / 2
        visible: false
    }
    OpacityMask {
        anchors.fill: parent
        source: picture
        maskSource: mask
        visible: picture.status === Image.Ready
    }
    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
        border.width: 1
        border.color: avatar.borderColor
        visible: picture.status === Image.Ready
    }
}
