#pragma once
// The service calls' user-facing texts, English and Persian, in one place.
#include <QString>

enum class ServiceText {
    ResponseTooLarge,
    ConnectionError,
    InvalidResponse,
};

// Persian exactly when lang is "fa".
QString serviceText(ServiceText id, const QString &lang);
