import QtQuick
import QtTest
import "qrc:/qml/components"
import "qrc:/qml/theme"

CorvanaTestCase {
    id: testCase
    name: "TutorialOverlay"
    width: 1000
    height: 600

    Item { id: middle; x: 400; y: 250; width: 100; height: 40 }
    Item { id: nearRight; x: 900; y: 100; width: 80; height: 40 }
    Item { id: tallTop; x: 100; y: 60; width: 800; height: 150 }
    Item { id: tallBottom; x: 100; y: 380; width: 800; height: 150 }
    Item { id: whole; x: 0; y: 0; width: 1000; height: 600 }

    Component {
        id: tourComponent
        TutorialOverlay { anchors.fill: parent }
    }

    function steps(targets) {
        return targets.map((t, i) => ({ target: t, icon: "qrc:/icons/logo.svg", title: "Step " + (i + 1), description: "About " + i }))
    }
    function cleanup() {
        Lang.current = ""
        checkWarnings()
    }

    function test_stepsNextAndFinish() {
        const tour = createTemporaryObject(tourComponent, testCase)
        const completed = createTemporaryObject(spyComponent, testCase, { target: tour, signalName: "completed" })
        const skipped = createTemporaryObject(spyComponent, testCase, { target: tour, signalName: "skipped" })
        tour.start(steps([null, middle, null]))
        verify(tour.visible)
        compare(tour.currentStep, 0)
        verify(!tour.hasTarget)
        compare(findChild(tour, "tutorialCounter").text, "1 / 3")
        verify(findChild(tour, "tutorialSkip").visible)

        mouseClick(findChild(tour, "tutorialNext"))
        compare(tour.currentStep, 1)
        verify(tour.hasTarget)
        compare([tour.spotX, tour.spotY, tour.spotW, tour.spotH], [390, 240, 120, 60])

        tour.nextStep()
        compare(tour.currentStep, 2)
        verify(!findChild(tour, "tutorialSkip").visible)
        compare(findChild(tour, "tutorialNext").text, "Let's go!")
        Lang.current = "fa"
        compare(findChild(tour, "tutorialNext").text, "شروع کنید!")
        compare(findChild(tour, "tutorialCounter").text, "\u200F۳ / ۳")
        tour.nextStep()
        compare(completed.count, 1)   // at once, before the fade ends
        compare(skipped.count, 0)
        tryCompare(tour, "visible", false, 2000)
        compare(tour.opacity, 1)
        // Finishing twice does not report twice.
        tour.finish()
        compare(completed.count, 1)
    }

    function test_skipAndRestart() {
        const tour = createTemporaryObject(tourComponent, testCase)
        const skipped = createTemporaryObject(spyComponent, testCase, { target: tour, signalName: "skipped" })
        tour.start(steps([null, middle]))
        tryCompare(tour, "opacity", 1, 2000)
        mouseClick(findChild(tour, "tutorialSkip"))
        compare(skipped.count, 1)
        tryCompare(tour, "visible", false, 2000)
        tour.start(steps([middle]))
        compare(tour.currentStep, 0)
        verify(tour.visible)
        tour.skip()
        compare(skipped.count, 2)
    }

    function test_spotlightAndCardPlacement() {
        const tour = createTemporaryObject(tourComponent, testCase)
        const card = findChild(tour, "tutorialCard")
        tour.start(steps([middle, nearRight, tallTop, tallBottom, whole, null]))
        verify(card.height > 120 && card.height < 220, "card height " + card.height)
        // Room on the right: beside it, centred on it (a short target leaves no overlap).
        compare(card.x, 510 + 24)
        compare(card.y, 270 - card.height / 2)

        // Near the right edge: to its left.
        tour.nextStep()
        compare([tour.spotX, tour.spotY, tour.spotW, tour.spotH], [890, 90, 100, 60])
        compare(card.x, 890 - 24 - 340)

        // No room either side: centred on it; its centred top overlaps, so below it.
        tour.nextStep()
        compare(card.x, 500 - 170)
        compare(card.y, 50 + 170 + 20)

        // The same near the bottom: above it.
        tour.nextStep()
        compare(card.y, 370 - 20 - card.height)

        // A target as large as the window: the spotlight stays inside, and so
        // does the card, 16 px from every edge.
        tour.nextStep()
        compare([tour.spotX, tour.spotY, tour.spotW, tour.spotH], [2, 2, 996, 596])
        compare(card.x, 330)
        verify(card.y >= 16 && card.y + card.height <= 600 - 16)

        // No target: centred in the window.
        tour.nextStep()
        verify(!tour.hasTarget)
        compare(card.x, (1000 - 340) / 2)
        compare(card.y, (600 - card.height) / 2)
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }
}
