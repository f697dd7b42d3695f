#include "session/session_texts.h"

#include <QHash>

namespace {

const QHash<QString, QString> &persianTunnelErrors()
{
    static const QHash<QString, QString> texts = {
        {"resolve_failed", QStringLiteral("آدرس سرور قابل شناسایی نیست")},
        {"socket_failed", QStringLiteral("خطا در ایجاد سوکت شبکه")},
        {"no_cookie", QStringLiteral("سرور پاسخ نمی\u200cدهد")},
        {"no_server_key", QStringLiteral("سرور دست\u200cدهی را تکمیل نکرد")},
        {"bad_server_key", QStringLiteral("کلید سرور نامعتبر است")},
        {"server_auth_failed", QStringLiteral("هویت سرور قابل تأیید نیست")},
        {"encrypt_failed", QStringLiteral("خطا در رمزنگاری")},
        {"no_auth_response", QStringLiteral("سرور به احراز هویت پاسخ نداد")},
        {"bad_credentials", QStringLiteral("نام کاربری یا رمز عبور اشتباه است")},
        {"node_not_found", QStringLiteral("شبکه یافت نشد")},
        {"node_full", QStringLiteral("ظرفیت شبکه پر است")},
        {"account_disabled", QStringLiteral("حساب کاربری غیرفعال است")},
        {"already_connected", QStringLiteral("شما قبلاً متصل هستید")},
        {"internal_error", QStringLiteral("خطای داخلی سرور")},
        {"unsupported_mode", QStringLiteral("حالت اتصال این شبکه با کلاینت سازگار نیست")},
        {"mode_mismatch", QStringLiteral("خطای داخلی پیکربندی")},
        {"config_error", QStringLiteral("پیکربندی کلاینت نامعتبر است")},
        {"tap_open_failed", QStringLiteral("خطا در باز کردن آداپتور شبکه. با دسترسی ادمین اجرا کنید.")},
        {"tap_config_failed", QStringLiteral("خطا در پیکربندی آداپتور شبکه")},
        {"unknown", QStringLiteral("خطای ناشناخته سرور")},
        {"process_crashed", QStringLiteral("فرایند VPN به\u200cطور غیرمنتظره بسته شد")},
        {"incomplete", QStringLiteral("فرایند VPN قبل از اتصال بسته شد")},
        {"not_found", QStringLiteral("کلاینت VPN یافت نشد")},
        {"start_failed", QStringLiteral("خطا در اجرای کلاینت VPN")},
    };
    return texts;
}

} // namespace

QString sessionText(SessionText id, const QString &lang)
{
    const bool fa = lang == QLatin1String("fa");
    switch (id) {
    case SessionText::VlanNotFound:
        return fa ? QStringLiteral("شبکه یافت نشد") : QStringLiteral("VLAN not found");
    case SessionText::PasswordNotFound:
        return fa ? QStringLiteral("رمز عبور VPN یافت نشد. لطفاً دوباره وارد شوید.")
                  : QStringLiteral("VPN password not found. Please re-login.");
    case SessionText::ConnectionLost:
        return fa ? QStringLiteral("اتصال VPN قطع شد") : QStringLiteral("VPN connection lost");
    case SessionText::Kicked:
        return fa ? QStringLiteral("توسط مدیر از شبکه اخراج شدید")
                  : QStringLiteral("You were kicked from the network");
    case SessionText::ServerConnectionLost:
        return fa ? QStringLiteral("اتصال به سرور قطع شد") : QStringLiteral("Connection to server lost");
    }
    return {};
}

QString tunnelErrorText(const QString &code, const QString &english, const QString &lang)
{
    if (lang != QLatin1String("fa"))
        return english;
    const auto &texts = persianTunnelErrors();
    const auto it = texts.constFind(code);
    return it == texts.constEnd() ? english : it.value();
}
