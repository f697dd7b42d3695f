#include "support/api_test_helpers.h"

#include "support/wait_bounds.h"

#include <QSignalSpy>

bool signInDemo(ApiClient &api)
{
    QSignalSpy success(&api, &ApiClient::loginSuccess);
    api.login(QStringLiteral("demo"), QStringLiteral("demo1234"));
    return success.wait(kEventWaitMs) && api.loggedIn();
}

QStringList column(const QJsonArray &requests, const char *key)
{
    QStringList values;
    for (const QJsonValue &entry : requests)
        values.append(entry.toObject().value(QLatin1String(key)).toString());
    return values;
}

