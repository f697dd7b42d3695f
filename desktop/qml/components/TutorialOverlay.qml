import QtQuick
import "../theme"

// Spotlight tour shown once after the first sign-in: the window dims, one
// part of it stays lit, and a card beside it says what it is for.
Item {
    id: tour
    property var steps: []
    property int currentStep: 0
    property bool hasTarget: false
    property real spotX: 0
    property real spotY: 0
    property real spotW: 0
    property real spotH: 0
    signal completed()
    signal skipped()

    readonly property var step: steps.length > 0 && currentStep < steps.length ? steps[currentStep] : null
    readonly property bool lastStep: currentStep >= steps.length - 1
    readonly property real cardWidth: 340

    anchors.fill: parent
    visible: false

    function start(stepList) {
        steps = stepList || []
        currentStep = 0
        fadeOut.stop()
        opacity = 0
        visible = true
        fadeIn.restart()
        placeSpotlight()
        logStep()
    }

    // Each step in the log, so a report (and the window tests) can tell where the tour stood.
    function logStep() {
        logger.logInfo("tour", "step " + (currentStep + 1) + " of " + steps.length)
    }

    function placeSpotlight() {
        const target = step ? step.target : null
        hasTarget = !!target && target.width !== undefined
        if (!hasTarget) {
            spotX = 0; spotY = 0; spotW = 0; spotH = 0
            return
        }
        const corner = target.mapToItem(tour, 0, 0)
        spotX = Math.max(2, corner.x - 10)
        spotY = Math.max(2, corner.y - 10)
        spotW = Math.min(target.width + 20, width - spotX - 2)
        spotH = Math.min(target.height + 20, height - spotY - 2)
    }

    // Beside the spotlight where there is room, else centred on it; always
    // 16 px inside the window.
    function cardXFor(cardW) {
        if (!hasTarget)
            return (width - cardW) / 2
        const right = spotX + spotW + 24
        if (right + cardW + 16 <= width)
            return right
        const left = spotX - 24 - cardW
        if (left > 16)
            return left
        return Math.max(16, Math.min(width - cardW - 16, spotX + spotW / 2 - cardW / 2))
    }
    function cardYFor(cardH) {
        if (!hasTarget)
            return (height - cardH) / 2
        let y = spotY + spotH / 2 - cardH / 2
        if (y >= spotY - 20 && y <= spotY + spotH + 20) {
            const below = spotY + spotH + 20
            const above = spotY - 20 - cardH
            if (below + cardH + 16 <= height)
                y = below
            else if (above > 16)
                y = above
        }
        return Math.max(16, Math.min(height - cardH - 16, y))
    }

    function nextStep() {
        if (lastStep) {
            finish()
            return
        }
        currentStep += 1
        placeSpotlight()
        logStep()
    }
    function finish() {
        if (!visible)
            return
        fadeIn.stop()
        fadeOut.restart()
        completed()
    }
    function skip() {
        if (!visible)
            return
        fadeIn.stop()
        fadeOut.restart()
        skipped()
    }

    // "step / steps"; in Persian with Persian digits and read from the right.
    function counterText(step, count) {
        return (Lang.isPersian ? "\u200F" : "") + Lang.number(step) + " / " + Lang.number(count)
    }

    NumberAnimation { id: fadeIn; target: tour; property: "opacity"; from: 0; to: 1; duration: 400 }
    SequentialAnimation {
        id: fadeOut
        NumberAnimation { target: tour; property: "opacity"; to: 0; duration: 300 }
        ScriptAction {
            script: {
                tour.visible = false
                tour.opacity = 1
            }
        }
    }

    // Every click stays here, the lit part included.
    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        onWheel: wheel => wheel.accepted = true
    }

    // The dimming with the spotlight cut out of it, painted in software so it
    // looks the same on every graphics stack.
    Canvas {
        id: shade
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.fillStyle = Qt.rgba(0, 0, 0, 0.78)
            // In the window's rounded shape, like every full-window layer.
            ctx.beginPath()
            ctx.roundedRect(0, 0, width, height, Theme.windowRadius, Theme.windowRadius)
            ctx.fill()
            if (!tour.hasTarget)
                return
            ctx.globalCompositeOperation = "destination-out"
            ctx.fillStyle = "black"
            ctx.beginPath()
            ctx.roundedRect(tour.spotX, tour.spotY, tour.spotW, tour.spotH, 16, 16)
            ctx.fill()
            ctx.globalCompositeOperation = "source-over"
        }
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
    }
    onSpotXChanged: shade.requestPaint()
    onSpotYChanged: shade.requestPaint()
    onSpotWChanged: shade.requestPaint()
    onSpotHChanged: shade.requestPaint()
    onHasTargetChanged: shade.requestPaint()

    Rectangle {
        objectName: "spotFrame"
        visible: tour.hasTarget
        x: tour.spotX
        y: tour.spotY
        width: tour.spotW
        height: tour.spotH
        radius: 16
        color: "transparent"
        border.width: 2
        border.color: Theme.accentLime
        SequentialAnimation on opacity {
            running: tour.visible && tour.hasTarget
            loops: Animation.Infinite
            NumberAnimation { from: 1; to: 0.3; duration: 900 }
            NumberAnimation { from: 0.3; to: 1; duration: 900 }
        }
    }

    Rectangle {
        id: card
        objectName: "tutorialCard"
        width: tour.cardWidth
        height: cardColumn.implicitHeight + 40
        x: tour.cardXFor(width)
        y: tour.cardYFor(height)
        radius: Theme.borderRadius
        color: Theme.toastBg
        border.width: 1
        border.color: Theme.glassBorder

        Column {
            id: cardColumn
            x: 20
            y: 20
            width: parent.width - 40
            spacing: 14

            Rectangle {
                width: parent.width
                height: 4
                radius: 2
                color: Theme.glassBorder
                Rectangle {
                    anchors.left: parent.left
                    width: parent.width * (tour.steps.length > 0 ? (tour.currentStep + 1) / tour.steps.length : 0)
                    height: parent.height
                    radius: 2
                    color: Theme.accentLime
                    Behavior on width { NumberAnimation { duration: 250 } }
                }
            }
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 10
                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20
                    height: 20
                    sourceSize: Qt.size(40, 40)
                    source: tour.step ? tour.step.icon : ""
                }
                Text {
                    objectName: "tutorialTitle"
                    anchors.verticalCenter: parent.verticalCenter
                    text: tour.step ? tour.step.title : ""
                    textFormat: Text.PlainText
                    color: Theme.textWhite
                    font.family: Lang.titleFont
                    font.pixelSize: 17
                    font.bold: true
                }
            }
            Text {
                width: parent.width
                text: tour.step ? tour.step.description : ""
                textFormat: Text.PlainText
                color: Theme.textSecondary
                font.family: Lang.bodyFont
                font.pixelSize: Theme.fontSizeBody
                lineHeight: 1.5
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
            Item {
                width: parent.width
                height: 36
                Text {
                    objectName: "tutorialCounter"
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    text: tour.counterText(tour.currentStep + 1, tour.steps.length)
                    color: Theme.textDimmed
                    font.family: Lang.bodyFont
                    font.pixelSize: Theme.fontSizeSmall
                }
                Row {
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8
                    PrimaryButton {
                        objectName: "tutorialSkip"
                        visible: !tour.lastStep
                        width: 84
                        height: 34
                        text: Lang.isPersian ? "رد شدن" : "Skip"
                        buttonColor: Theme.glassHover
                        onClicked: tour.skip()
                    }
                    PrimaryButton {
                        objectName: "tutorialNext"
                        width: tour.lastStep ? 120 : 84
                        height: 34
                        accent: true
                        text: tour.lastStep ? (Lang.isPersian ? "شروع کنید!" : "Let's go!") : (Lang.isPersian ? "بعدی" : "Next")
                        onClicked: tour.nextStep()
                    }
                }
            }
        }
    }
}
