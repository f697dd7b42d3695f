import QtQuick
import QtTest
import "qrc:/qml/components"

CorvanaTestCase {
    id: testCase
    name: "Toast"
    width: 480
    height: 240

    Component { id: toastComponent; Toast { stayMs: 60000 } }
    // Stands for the window's content, mirrored when the window reads right to left.
    Component {
        id: windowComponent
        Item {
            property bool rtl: false
            property alias toast: windowToast
            width: testCase.width
            height: 110
            LayoutMirroring.enabled: rtl
            LayoutMirroring.childrenInherit: true
            Toast { id: windowToast; stayMs: 60000 }
        }
    }

    // The text of a toast shown alone in a window at the given height, once faded in.
    function shownText(rtl, y, message) {
        const window = createTemporaryObject(windowComponent, testCase, { rtl: rtl, y: y })
        window.toast.success(message)
        const text = findChild(window.toast, "toastText")
        verify(text, "the toast shows no text")
        tryCompare(text.parent.parent, "opacity", 1)
        return text
    }
    // An item's pixels, read from a grab of the whole test window (grabImage(item)
    // crops at the item's place in its parent, not in the window).
    function pixelsOf(item) {
        const image = grabImage(testCase)
        const at = item.mapToItem(testCase, 0, 0)
        return {
            width: Math.floor(item.width),
            height: Math.floor(item.height),
            pixel: (x, y) => image.pixel(Math.round(at.x) + x, Math.round(at.y) + y)
        }
    }

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

    // A message that opens with a name in the other script reads in the window's
    // direction: the name stands at the reading side's edge, drawn as it is alone.
    function test_text_reads_in_the_windows_direction_data() {
        return [
            { tag: "Persian window, Latin name", rtl: true, name: "player249", rest: "وارد شد" },
            { tag: "English window, Persian name", rtl: false, name: "نادیا", rest: "joined" }
        ]
    }
    function test_text_reads_in_the_windows_direction(data) {
        const alone = pixelsOf(shownText(data.rtl, 0, data.name))
        const message = pixelsOf(shownText(data.rtl, 120, data.name + " " + data.rest))
        // Columns counted from the reading side's edge.
        const column = (image, k) => data.rtl ? image.width - 1 - k : k
        const inked = c => c.r + c.g + c.b > 1.5
        let nameEnd = 0
        for (let k = 0; k < alone.width; ++k)
            for (let y = 0; y < alone.height; ++y)
                if (inked(alone.pixel(column(alone, k), y)))
                    nameEnd = k + 1
        verify(nameEnd > 10, "the name alone drew nothing")
        let differing = 0
        for (let k = 0; k < nameEnd; ++k)
            for (let y = 0; y < Math.min(alone.height, message.height); ++y) {
                const a = alone.pixel(column(alone, k), y), m = message.pixel(column(message, k), y)
                if (Math.abs(a.r - m.r) + Math.abs(a.g - m.g) + Math.abs(a.b - m.b) > 0.1)
                    ++differing
            }
        compare(differing, 0, "the name is not at the reading side's edge")
    }
}
