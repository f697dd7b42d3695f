import QtQuick
import "../theme"

// Covers a page while a connection comes up: black at 60 % that swallows clicks, two
// lime rings widening and fading around a pulsing dot, and the step's text beneath.
// The text stands on a plate of its own, so nothing of the dimmed page reads through it;
// a detail (why the connection keeps failing) stands under it on the same plate.
Item {
    id: cover
    property string text: ""
    property string textObjectName: ""
    property string detail: ""
    property string detailObjectName: ""

    anchors.fill: parent

    // The page's right-hand corners are the window's: they take its rounding.
    Item {
        anchors.fill: parent
        clip: true
        Rectangle {
            x: -Theme.windowRadius
            width: parent.width + Theme.windowRadius
            height: parent.height
            radius: Theme.windowRadius
            color: Qt.rgba(0, 0, 0, 0.6)
        }
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => { wheel.accepted = true }
    }

    Item {
        id: pulse
        anchors.centerIn: parent
        anchors.verticalCenterOffset: -24
        width: 120
        height: 120
        Ring { delay: 0; fromScale: 0.72; toScale: 1.35 }
        Ring { delay: 360; fromScale: 0.58; toScale: 1.18 }
        Rectangle {
            anchors.centerIn: parent
            width: 16
            height: 16
            radius: 8
            color: Theme.accentLime
            SequentialAnimation on scale {
                running: cover.visible
                loops: Animation.Infinite
                NumberAnimation { from: 1; to: 1.3; duration: 600; easing.type: Easing.InOutSine }
                NumberAnimation { from: 1.3; to: 1; duration: 600; easing.type: Easing.InOutSine }
            }
        }
    }

    Rectangle {
        anchors.centerIn: texts
        visible: label.text !== ""
        width: texts.width + 32
        height: texts.height + 14
        radius: detailLabel.visible ? 14 : height / 2
        color: Theme.toastBg
        border.width: 1
        border.color: Theme.glassBorder
    }
    Column {
        id: texts
        anchors.top: pulse.bottom
        anchors.topMargin: Theme.spacing + 7
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 6
        readonly property real widest: Math.min(cover.width - 80, 520)
        width: Math.min(widest, Math.max(label.implicitWidth, detailLabel.visible ? detailLabel.implicitWidth : 0))

        Text {
            id: label
            objectName: cover.textObjectName
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: cover.text
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: Theme.accentLime
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeBody
            font.bold: true
        }
        Text {
            id: detailLabel
            objectName: cover.detailObjectName
            visible: cover.detail !== "" && label.text !== ""
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            maximumLineCount: 4
            elide: Text.ElideRight
            text: cover.detail
            textFormat: Text.PlainText
            color: Theme.textPrimary
            font.family: Lang.bodyFont
            font.pixelSize: Theme.fontSizeSmall
        }
    }

    component Ring: Rectangle {
        id: ring
        property int delay: 0
        property real fromScale: 1
        property real toScale: 1
        anchors.centerIn: parent
        width: 120
        height: 120
        radius: 60
        color: "transparent"
        border.width: 2
        border.color: Theme.accentLime
        scale: fromScale
        opacity: 0
        SequentialAnimation {
            running: cover.visible
            loops: Animation.Infinite
            PauseAnimation { duration: ring.delay }
            ParallelAnimation {
                NumberAnimation { target: ring; property: "scale"; from: ring.fromScale; to: ring.toScale; duration: 1200; easing.type: Easing.OutCubic }
                NumberAnimation { target: ring; property: "opacity"; from: 0.9; to: 0; duration: 1200; easing.type: Easing.OutCubic }
            }
            PauseAnimation { duration: 360 - ring.delay }
        }
    }
}
