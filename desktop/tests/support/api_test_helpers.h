#pragma once

#include "service/api_client.h"
#include "support/test_service.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStringList>

// Signs `api` in as the service's demo user; false when that failed.
bool signInDemo(ApiClient &api);

// Values of one key across logged requests.
QStringList column(const QJsonArray &requests, const char *key);

