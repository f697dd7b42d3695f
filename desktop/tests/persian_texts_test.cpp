// Persian spelling keeps the parts of many words apart with a zero-width
// non-joiner (U+200C); run together they read as another, misspelt word.
#include "service/service_texts.h"
#include "support/test_main.h"
#include "updates/update_texts.h"
#include "session/vpn_process.h"

#include <QTest>

namespace {

const QChar kNonJoiner(0x200C);

const char *const kVpnCodes[] = {
    "resolve_failed", "socket_failed",   "no_cookie",      "no_server_key",    "bad_server_key",
    "server_auth_failed", "encrypt_failed", "no_auth_response", "bad_credentials", "node_not_found",
    "node_full",      "account_disabled", "already_connected", "internal_error", "unsupported_mode",
    "mode_mismatch",  "config_error",     "tap_open_failed", "tap_config_failed", "unknown",
    "process_crashed", "incomplete",      "not_found",       "start_failed"};

const UpdateText kUpdateTexts[] = {
    UpdateText::CheckStarts, UpdateText::ScanStarts,      UpdateText::Downloading,
    UpdateText::DownloadFailed, UpdateText::Verifying,    UpdateText::VerificationFailed,
    UpdateText::MissingDownload, UpdateText::Preparing,   UpdateText::Restarting,
    UpdateText::StubNotFound, UpdateText::LaunchFailed,   UpdateText::PrepareFailed};

const ServiceText kServiceTexts[] = {ServiceText::ResponseTooLarge, ServiceText::ConnectionError,
                                     ServiceText::InvalidResponse};

QString joined(const char *before, const char *after)
{
    return QString::fromUtf8(before) + kNonJoiner + QString::fromUtf8(after);
}

} // namespace

class PersianTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void nativeTextsKeepTheirNonJoiners()
    {
        VpnProcess vpn;
        vpn.setLang(QStringLiteral("fa"));
        QStringList texts;
        for (const char *code : kVpnCodes) {
            const QString text = vpn.localizedError(QString::fromLatin1(code), QStringLiteral("english"));
            QVERIFY2(text != QLatin1String("english"), code);
            texts << text;
        }
        for (UpdateText id : kUpdateTexts)
            texts << updateText(id, QStringLiteral("fa"));
        for (ServiceText id : kServiceTexts) {
            QVERIFY(serviceText(id, QStringLiteral("fa")) != serviceText(id, QStringLiteral("en")));
            texts << serviceText(id, QStringLiteral("fa"));
        }

        // Every compound these texts use, as Persian writes it.
        const QStringList compounds{joined("نمی", "دهد"),   joined("دست", "دهی"),     joined("به", "طور"),
                                    joined("فایل", "ها"),   joined("آماده", "سازی"), joined("راه", "اندازی")};
        const QString all = texts.join(QLatin1Char('\n'));
        for (const QString &compound : compounds) {
            QVERIFY2(all.contains(compound), qPrintable(compound));
            QString runTogether = compound;
            runTogether.remove(kNonJoiner);
            for (const QString &text : std::as_const(texts))
                QVERIFY2(!text.contains(runTogether), qPrintable(text));
        }

        QCOMPARE(vpn.localizedError(QStringLiteral("no_cookie"), {}),
                 QStringLiteral("سرور پاسخ ") + joined("نمی", "دهد"));
        QCOMPARE(vpn.localizedError(QStringLiteral("no_server_key"), {}),
                 QStringLiteral("سرور ") + joined("دست", "دهی") + QStringLiteral(" را تکمیل نکرد"));
        QCOMPARE(vpn.localizedError(QStringLiteral("process_crashed"), {}),
                 QStringLiteral("فرایند VPN ") + joined("به", "طور") + QStringLiteral(" غیرمنتظره بسته شد"));
    }
};

CORVANA_TEST_MAIN(PersianTextsTest)
#include "persian_texts_test.moc"
