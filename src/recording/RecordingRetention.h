#pragma once

#include "SessionJournal.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

// How long recordings stay on this computer once the service has made their
// note: the segments go at once, the upload tracks and the journal after the
// retention period ("30 days", or "Forever"). Nothing the service has not
// acknowledged is ever deleted. Also what the Profile screen says about the
// recordings folder.
class RecordingRetention : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool keepForever READ keepForever WRITE setKeepForever NOTIFY keepForeverChanged)
    Q_PROPERTY(QString summary READ summary NOTIFY summaryChanged)
    Q_PROPERTY(QUrl folderUrl READ folderUrl CONSTANT)
public:
    static constexpr int defaultDays = 30;

    // `recordingsFolder` empty: where the recorder puts its sessions.
    explicit RecordingRetention(QString recordingsFolder = {}, QObject* parent = nullptr);

    [[nodiscard]] bool keepForever() const { return m_keepForever; }
    void setKeepForever(bool on);
    // Days an acknowledged session is kept; nothing: forever.
    [[nodiscard]] std::optional<int> keepDays() const;
    // "Recordings on this computer: N · X MB"
    [[nodiscard]] QString summary() const { return m_summary; }
    [[nodiscard]] QUrl folderUrl() const;

    // Counts the sessions and their bytes again, off the main thread.
    Q_INVOKABLE void refresh();

    // Deletes the segments of a session's tracks that reached the service, once it has made the note.
    static void clearSegments(const SessionJournal& journal);
    // Clears the segments of every session under `recordingsFolder` whose note was made and removes
    // those whose note arrived more than `keepDays` before `now`. Any thread.
    static void sweep(const QString& recordingsFolder, std::optional<int> keepDays, const QDateTime& now);

signals:
    void keepForeverChanged();
    void summaryChanged();

private:
    QString m_recordingsFolder;
    bool m_keepForever = false;
    QString m_summary;
};
