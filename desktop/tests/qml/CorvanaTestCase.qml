import QtQuick
import QtTest

// Every test of the window fails on a QML warning it caused. A file that needs
// its own cleanup() calls checkWarnings() from it.
TestCase {
    when: windowShown
    // TestCase hides itself; items under test need a visible parent to take input.
    visible: true
    // What a long list may take before it counts as a freeze: generous, since
    // the sanitizer build on a loaded machine is ten times slower; the figures
    // themselves are logged, and the benchmarks time them.
    readonly property int freezeMs: 60000

    function checkWarnings() {
        const warnings = testHost.takeWarnings()
        compare(warnings.length, 0, "QML warnings: " + warnings.join(" | "))
    }

    function cleanup() { checkWarnings() }
}
