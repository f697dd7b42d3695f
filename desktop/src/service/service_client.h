#pragma once
// The REST core: JSON calls to the service with a bearer token that is renewed
// transparently on a 401, a transfer time-out, a cap on reply sizes and the
// busy count of guarded calls. It knows nothing of rooms.
#include "service/request_options.h"

#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <functional>

class QNetworkReply;
class QNetworkRequest;

class ServiceClient : public QObject
{
    Q_OBJECT

public:
    // A call ends after 10 s of silence, or once 30 s bring fewer than 30 KiB
    // (shell/transfer_guard.h): a trickle frees the busy guard within about
    // 30 s, while a steady line of 16 KiB/s brings even the largest allowed
    // reply, in some 17 minutes.
    static constexpr int kTransferTimeoutMs = 10000;
    static constexpr int kLowSpeedWindowMs = 30000;
    // Replies beyond this are cut off: no service record comes near it.
    static constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

    explicit ServiceClient(QObject *parent = nullptr);
    ~ServiceClient() override;

    QString baseUrl() const { return m_baseUrl; }
    // "en" or "fa"; the "x-lang" header of every call.
    QString lang() const { return m_lang; }
    bool busy() const { return m_busy; }
    QString accessToken() const { return m_accessToken; }
    QString refreshToken() const { return m_refreshToken; }

    void setBaseUrl(const QString &url);
    // Anything but "fa" reads as "en".
    void setLang(const QString &lang);
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    // The same least pace over a shorter window (tests).
    void setLowSpeedWindow(int ms) { m_lowSpeedWindowMs = ms; }

    // Percent-encodes all but the unreserved characters, for path pieces.
    static QString encodePathPiece(const QString &text);
    // A "url" beginning with "http" stays; anything else is put after baseUrl.
    QString absoluteUrl(const QString &url) const;

    // One JSON call; the callback sees the reply object of a success only,
    // `failure` (when given) hears of the call's end otherwise. A call whose
    // sign-in has ended hears nothing.
    void request(const QString &method, const QString &path, const QJsonObject &body,
                 ReplyCallback callback, RequestOptions options, FailureCallback failure = {});
    // Fire and forget with the current token, or with `token` (empty: none).
    // Timed like any call; only the answer's status is waited for, never its body.
    void postJson(const QString &path, const QJsonObject &body);
    void postJsonAs(const QString &path, const QJsonObject &body, const QString &token);
    // A timed, capped POST whose reply the caller reads and deletes.
    QNetworkReply *postTimed(const QString &path, const QJsonObject &body, const QString &token);
    static bool replyTooLarge(QNetworkReply *reply, const QByteArray &body);
    // The bearer token (when there is one) and the language.
    void applyAuthHeaders(QNetworkRequest &request) const;

    // Takes the tokens of a sign-in reply, and forgets them, without a signal:
    // the caller announces the change once the rest of its state is set.
    // Each begins a new sign-in: see signInGeneration.
    void storeTokens(const QJsonObject &reply);
    void clearTokens();
    // Renews the tokens from `refreshToken` (when signed out: resumes a saved
    // sign-in, a new one of its own): refreshSuccess or authRequired.
    void refresh(const QString &refreshToken);
    // Changes with every sign-in and sign-out, not with a token renewal. A
    // reply to a call made under another number is dropped unseen, so a late
    // answer of an earlier sign-in never reaches the next one.
    quint64 signInGeneration() const { return m_generation; }

signals:
    void baseUrlChanged();
    void langChanged();
    void busyChanged();
    void loggedInChanged();
    void tokenRotated();
    void refreshSuccess();
    void authRequired();
    void requestError(const QString &message);
    // signInGeneration moved on: replies still on their way will be dropped.
    void signInGenerationChanged();

private:
    QNetworkRequest jsonRequest(const QString &path, const QString &token) const;
    // The reply cap and the progress rules.
    void limitReply(QNetworkReply *reply) const;
    void setBusy(bool busy);
    void onReplyFinished(QNetworkReply *reply, quint64 generation, const QString &method,
                         const QString &path, const QJsonObject &body,
                         const ReplyCallback &callback, RequestOptions options,
                         const FailureCallback &failure);
    // A sign-in ends or begins: what the last one still waited for is let go.
    void beginGeneration();
    void startTokenRefresh(std::function<void(bool)> completion);
    void onRefreshReply(QNetworkReply *reply, quint64 generation);
    void finishRefresh(bool ok);
    void onReplayRefreshDone(bool ok);
    void onRefreshDone(bool ok);

    QNetworkAccessManager m_network;
    QString m_baseUrl;
    QString m_lang = QStringLiteral("en");
    bool m_busy = false;
    QString m_accessToken;
    QString m_refreshToken;
    bool m_refreshing = false;
    QList<std::function<void(bool)>> m_refreshWaiters; // completions of the refresh in flight
    QList<PendingRequest> m_pending;
    int m_transferTimeoutMs = kTransferTimeoutMs;
    int m_lowSpeedWindowMs = kLowSpeedWindowMs;
    quint64 m_generation = 0;
};
