#pragma once

#include "APIReply.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>

class QNetworkReply;

// How much one reply may bring and how long it may take once the request is sent.
struct ReplyLimits {
    qint64 maxBytes = 32LL << 20;
    std::chrono::milliseconds total { 300000 };
};

// Watches one reply and aborts it as soon as it breaks its limits: an announced
// or received body over the size, or no complete reply within the total time
// (the transfer time-out only ends a reply that stops moving, not one that drips).
class BoundedReply : public QObject {
    Q_OBJECT
public:
    BoundedReply(QNetworkReply* reply, ReplyLimits limits);

    // Why this watch aborted the reply, if it did.
    [[nodiscard]] std::optional<QString> failure() const { return m_failure; }

    // Waits for `reply` under `limits` and hands back what came, deleting the reply later; never throws.
    static QCoro::Task<APIReply> read(QNetworkReply* reply, ReplyLimits limits);

private:
    void abort(const QString& why);
    void checkSize(qint64 bytes);

    QPointer<QNetworkReply> m_reply;
    ReplyLimits m_limits;
    QTimer m_deadline;
    std::optional<QString> m_failure;
};
