#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>

// Flags of every ServiceClient::request call.
struct RequestOptions
{
    bool busyGuard = false;  // refuse while busy, else hold busy until the reply
    bool retryOn401 = false; // park the call and renew the tokens on a 401
    bool silent = false;     // no requestError on failure
};

using ReplyCallback = std::function<void(const QJsonObject &)>;
// A call that ended without a success, in the sign-in that made it: an error
// status, a network error or time-out, a reply too large, a failed replay.
using FailureCallback = std::function<void()>;

// A call answered 401, waiting for the token refresh to finish.
struct PendingRequest
{
    QString method;
    QString path;
    QJsonObject body;
    ReplyCallback callback;
    bool silent = false;
    FailureCallback failure;
};
