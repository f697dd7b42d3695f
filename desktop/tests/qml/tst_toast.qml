import QtQuick
import QtTest
import "qrc:/qml/components"

CorvanaTestCase {
    id: testCase
    name: "Toast"

    Component { id: toastComponent; Toast { stayMs: 60000 } }

    function test_length_limit() {
        const toast = createTemporaryObject(toastComponent, testCase)
        const eighty = "x".repeat(80)
        toast.success(eighty)
        compare(toast.texts(), [eighty])
        toast.error("y".repeat(81))
        compare(toast.texts()[1], "y".repeat(77) + "...")
    }

    function test_repeats_and_stack_of_two() {
        const toast = createTemporaryObject(toastComponent, testCase)
        toast.error("A")
        toast.error("A")
        compare(toast.texts(), ["A"], "a repeat of the newest toast is dropped")
        toast.error("B")
        toast.error("A")
        compare(toast.texts(), ["B", "A"], "A, B, A pushes the first A out")
        toast.show("C", "success")
        compare(toast.count, 2)
        compare(toast.texts(), ["A", "C"])
    }

    function test_toasts_leave_after_their_time() {
        const toast = createTemporaryObject(toastComponent, testCase, { stayMs: 50 })
        toast.success("gone soon")
        compare(toast.count, 1)
        tryCompare(toast, "count", 0, 5000)
        toast.success("gone soon")
        compare(toast.count, 1, "the same text may come back once the first has gone")
    }
}
