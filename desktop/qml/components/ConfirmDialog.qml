import QtQuick
import "../theme"

// Modal confirmation: dims the window; Confirm turns into a spinner until hidden.
Item {
    id: dialog
    property string message: ""
    property bool loading: false
    signal confirmed()
    signal cancelled()

    anchors.fill: parent
    visible: false

    function show(msg) {
        if (msg !== undefined)
            message = msg
        loading = false
        visible = true
    }
    function hide() {
        loading = false
        visible = false
    }

    Rectangle {
        anchors.fill: parent
        radius: Theme.windowRadius
        color: Qt.rgba(0, 0, 0, 0.5)
        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            onClicked: {
                if (dialog.loading)
                    return
                dialog.hide()
                dialog.cancelled()
            }
        }
    }

    Rectangle {
        id: card
        anchors.centerIn: parent
        width: 340
        height: column.implicitHeight + 48
        radius: Theme.borderRadius
        color: Theme.toastBg
        border.width: 1
        border.color: Theme.glassBorder
        MouseArea { anchors.fill: parent }

        Column {
            id: column
            anchors.centerIn: parent
            width: parent.width - 48
            spacing: 22
            Text {
                width: parent.width
                text: dialog.message
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textPrimary
                font.family: Lang.bodyFont
                font.pixelSize: 14
            }
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12
                PrimaryButton {
                    objectName: "cancelButton"
                    width: 130
                    visible: !dialog.loading
                    text: Lang.cancel
                    buttonColor: Theme.glassHover
                    onClicked: {
                        dialog.hide()
                        dialog.cancelled()
                    }
                }
                PrimaryButton {
                    objectName: "confirmButton"
                    width: 130
                    text: Lang.confirm
                    buttonColor: Theme.errorColor
                    loading: dialog.loading
                    onClicked: {
                        if (dialog.loading)
                            return
                        dialog.loading = true
                        dialog.confirmed()
                    }
                }
            }
        }
    }
}
