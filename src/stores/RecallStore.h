#pragma once

#include "TokenProvider.h"
#include "UpcomingMeeting.h"

#include <QCoroTask>
#include <QObject>

// The user's meeting-bot settings, and the per-meeting switch that sends the
// bot into a calendar meeting (or keeps it out).
class RecallStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool autoJoinEnabled READ autoJoinEnabled NOTIFY autoJoinEnabledChanged)
    Q_PROPERTY(bool isLoaded READ isLoaded NOTIFY isLoadedChanged)
public:
    explicit RecallStore(TokenProvider tokens, QObject* parent = nullptr);

    QCoro::Task<> loadSettings();
    // Failures are only logged: the caller's switch stays where the user put it.
    QCoro::Task<> toggleMeetingBot(UpcomingMeeting meeting, bool enabled);

    [[nodiscard]] bool autoJoinEnabled() const { return m_autoJoinEnabled; }
    [[nodiscard]] bool isLoaded() const { return m_isLoaded; }

signals:
    void autoJoinEnabledChanged();
    void isLoadedChanged();

private:
    void setAutoJoinEnabled(bool on);
    void setLoaded(bool loaded);

    TokenProvider m_tokens;
    bool m_autoJoinEnabled = true;
    bool m_isLoaded = false;
};
