import QtQuick
import QtTest
import "qrc:/qml/components"

CorvanaTestCase {
    id: testCase
    name: "ConfirmDialog"
    width: 800
    height: 600

    Component { id: dialogComponent; ConfirmDialog {} }
    SignalSpy { id: confirmedSpy; signalName: "confirmed" }
    SignalSpy { id: cancelledSpy; signalName: "cancelled" }

    function make() {
        const dialog = createTemporaryObject(dialogComponent, testCase)
        confirmedSpy.clear()
        cancelledSpy.clear()
        confirmedSpy.target = dialog
        cancelledSpy.target = dialog
        return dialog
    }

    function test_confirm_spins_and_fires_once() {
        const dialog = make()
        dialog.show("Sure?")
        verify(dialog.visible)
        const confirm = findChild(dialog, "confirmButton")
        const cancel = findChild(dialog, "cancelButton")
        mouseClick(confirm)
        verify(dialog.loading)
        verify(!cancel.visible, "Cancel hides while the spinner turns")
        mouseClick(confirm)
        mouseClick(dialog, 5, 5)
        compare(confirmedSpy.count, 1)
        compare(cancelledSpy.count, 0)
        verify(dialog.visible, "a click outside does nothing while loading")
        dialog.hide()
        verify(!dialog.loading && !dialog.visible)
        dialog.show("Again?")
        verify(!dialog.loading, "show resets the spinner")
    }

    function test_cancel_and_outside_click() {
        const dialog = make()
        dialog.show("Sure?")
        mouseClick(findChild(dialog, "cancelButton"))
        verify(!dialog.visible)
        compare(cancelledSpy.count, 1)
        dialog.show("Sure?")
        mouseClick(dialog, 5, 5)
        verify(!dialog.visible)
        compare(cancelledSpy.count, 2)
        compare(confirmedSpy.count, 0)
    }
}
