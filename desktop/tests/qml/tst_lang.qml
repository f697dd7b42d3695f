import QtQuick
import QtTest
import "qrc:/qml/theme"

CorvanaTestCase {
    name: "Lang"

    function cleanup() {
        Lang.current = ""
        checkWarnings()
    }

    // The text properties of the table: every string but the settings and font names.
    function textKeys() {
        return testHost.textPropertyNames(Lang).filter(
            k => ["current", "persianFont", "latinFont", "titleFont", "bodyFont"].indexOf(k) < 0)
    }

    function test_languages_and_fonts() {
        for (const code of ["", "de", "FA", "en"]) {
            Lang.current = code
            verify(!Lang.isPersian, "'" + code + "' must read as English")
            compare(Lang.direction, Qt.LeftToRight)
            compare(Lang.login, "Login")
            compare(Lang.trayNoticeTitle, "Corvana")
            verify(Lang.titleFont.length > 0 && Lang.bodyFont.length > 0, "a family is always named")
        }
        Lang.current = "fa"
        verify(Lang.isPersian)
        compare(Lang.direction, Qt.RightToLeft)
        compare(Lang.trayNoticeTitle, "کوروانا")
        compare(Lang.titleFont, Lang.persianFont)
        compare(Lang.bodyFont, Lang.persianFont)
    }

    function test_persian_spelling_keeps_zero_width_non_joiners() {
        Lang.current = "fa"
        const zwnj = "\u200c"
        // The tray notice, word by word as Persian writes it.
        for (const word of ["پس" + zwnj + "زمینه", "می" + zwnj + "شود", "سیستم" + zwnj + "تری"])
            verify(Lang.trayNoticeMsg.indexOf(word) >= 0, "missing " + word)
        // The joined forms a lost U+200C leaves behind appear nowhere.
        const broken = ["پسزمینه", "میشود", "سیستمتری", "نمیدهد", "فایلها", "آمادهسازی", "راهاندازی"]
        for (const key of textKeys()) {
            const value = Lang[key]
            if (typeof value !== "string")
                continue
            for (const b of broken)
                verify(value.indexOf(b) < 0, key + " has the broken form " + b)
        }
        compare(Lang.passwordTooShort, "رمز عبور باید حداقل ۴ کاراکتر باشد")
        compare(Lang.vpnReconnectingIn.indexOf("%1") >= 0, true)
    }

    function test_every_text_exists_in_both_languages() {
        const keys = textKeys()
        verify(keys.length >= 155, "only " + keys.length + " texts")
        Lang.current = "en"
        const english = keys.map(k => Lang[k])
        Lang.current = "fa"
        for (let i = 0; i < keys.length; ++i) {
            verify(Lang[keys[i]].length > 0, keys[i] + " has no Persian text")
            verify(english[i].length > 0, keys[i] + " has no English text")
        }
    }
}
