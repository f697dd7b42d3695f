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

    // Counts, times and sizes as each language writes them; technical values never pass here.
    function test_numbers_in_the_language() {
        const cases = [
            // language, call, expected
            ["en", () => Lang.number(29), "29"],
            ["fa", () => Lang.number(29), "۲۹"],
            ["fa", () => Lang.number("7/10"), "۷/۱۰"],
            ["fa", () => Lang.number("03:01:02"), "۰۳:۰۱:۰۲"],
            ["fa", () => Lang.number("1.2K"), "۱٫۲K"],
            ["fa", () => Lang.number(undefined), ""],
            ["en", () => Lang.quantity(29, "s"), "29s"],
            ["fa", () => Lang.quantity(29, "s"), "۲۹ ثانیه"],
            ["en", () => Lang.quantity(1, "files"), "1 file"],
            ["en", () => Lang.quantity(2, "files"), "2 files"],
            ["fa", () => Lang.quantity(1, "files"), "۱ فایل"],
            ["en", () => Lang.quantity(12, "ms"), "12 ms"],
            ["fa", () => Lang.quantity(170, "d"), "۱۷۰ روز"],
            ["en", () => Lang.size(14), "14 B"],
            ["fa", () => Lang.size(14), "۱۴ بایت"],
            ["en", () => Lang.size(1536), "1.5 KB"],
            ["fa", () => Lang.size(1536), "۱٫۵ کیلوبایت"],
            ["en", () => Lang.size(5 * 1048576), "5.0 MB"],
            ["fa", () => Lang.size(5 * 1048576), "۵٫۰ مگابایت"]
        ]
        for (const [language, call, expected] of cases) {
            Lang.current = language
            compare(call(), expected, language + ": " + call)
        }
        // Dates: the local short date and hh:mm, in Latin digits in English and Persian ones in Persian.
        const when = new Date(2024, 10, 25, 9, 7)
        Lang.current = "en"
        const english = Lang.dateTime(when)
        verify(english.endsWith(" 09:07") && /25/.test(english), english)
        Lang.current = "fa"
        const persian = Lang.dateTime(when)
        verify(persian.endsWith(" ۰۹:۰۷") && /۲۵/.test(persian) && !/[0-9]/.test(persian), persian)
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
