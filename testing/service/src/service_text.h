#pragma once

#include "service_server.h"

// The service answers in the caller's language ("x-lang").
inline QString localizedDetail(const ServiceCall &call, const char *english, const char *persian)
{
    return call.lang == QLatin1String("fa") ? QString::fromUtf8(persian) : QString::fromUtf8(english);
}

// Every area refuses a missing or stale access token alike.
inline ServiceReply notAuthenticated(const ServiceCall &call)
{
    return ServiceReply::error(401, localizedDetail(call, "Not authenticated", "احراز هویت نشده"));
}

// Wraps a handler so it runs only for a valid access token.
inline ServiceServer::Handler authed(ServiceState &state, std::function<ServiceReply(ServiceCall &, Account &)> inner)
{
    return [&state, inner = std::move(inner)](ServiceCall &call) {
        Account *account = state.accountForAccess(call.bearer);
        return account ? inner(call, *account) : notAuthenticated(call);
    };
}

inline QString bodyText(const ServiceCall &call, const char *key)
{
    return call.body.value(QLatin1String(key)).toString();
}

// The shape the service gives a body that fails validation: "detail" is a list.
ServiceReply validationError(const QStringList &missing);
