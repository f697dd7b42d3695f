import QtQuick

// Spotlight tour shown once after the first sign-in (filled in with its drawing separately).
Item {
    id: tour
    property var steps: []
    property int currentStep: 0
    signal completed()
    signal skipped()

    anchors.fill: parent
    visible: false

    function start(stepList) {
        steps = stepList
        currentStep = 0
        visible = true
    }
    function nextStep() {
        if (currentStep + 1 >= steps.length)
            finish()
        else
            currentStep += 1
    }
    function finish() {
        visible = false
        completed()
    }
    function skip() {
        visible = false
        skipped()
    }
}
