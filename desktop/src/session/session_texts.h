#pragma once
// The room session's user-facing texts, English and Persian, in one place.
#include <QString>

enum class SessionText {
    VlanNotFound,
    PasswordNotFound,
    ConnectionLost,
    Kicked,
    ServerConnectionLost,
};

// Persian exactly when lang is "fa".
QString sessionText(SessionText id, const QString &lang);

// The tunnel client's error `code` in Persian when lang is "fa" and the code is
// known; otherwise `english`, the client's own message.
QString tunnelErrorText(const QString &code, const QString &english, const QString &lang);
