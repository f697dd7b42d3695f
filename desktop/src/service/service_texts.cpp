#include "service/service_texts.h"

QString serviceText(ServiceText id, const QString &lang)
{
    const bool fa = lang == QLatin1String("fa");
    switch (id) {
    case ServiceText::ResponseTooLarge:
        return fa ? QStringLiteral("پاسخ سرور بیش از حد بزرگ است") : QStringLiteral("Server response too large");
    case ServiceText::ConnectionError:
        return fa ? QStringLiteral("خطا در ارتباط با سرور") : QStringLiteral("Server connection error");
    case ServiceText::InvalidResponse:
        return fa ? QStringLiteral("پاسخ نامعتبر از سرور") : QStringLiteral("Invalid response from server");
    }
    return {};
}
