#include "RecordingRetention.h"

#include "AudioTrackWriter.h"
#include "Log.h"
#include "SessionJournal.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFutureWatcher>
#include <QPointer>
#include <QSettings>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

namespace {

const QString keepForeverKey = u"recordings/keepForever"_s;

void log(const QString& text)
{
    Log::line(u"[RecordingRetention] "_s + text);
}

struct FolderSize {
    int sessions = 0;
    qint64 bytes = 0;
};

// Only the session folders: the disk reserve kept beside them is not a recording.
FolderSize measure(const QString& root)
{
    FolderSize size;
    const QStringList sessions
        = QDir(root).entryList({ u"Session_*"_s }, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    size.sessions = int(sessions.size());
    for (const QString& session : sessions) {
        QDirIterator files(QDir(root).filePath(session), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            files.next();
            size.bytes += files.fileInfo().size();
        }
    }
    return size;
}

QString summaryText(const FolderSize& size)
{
    return u"Recordings on this computer: %1 · %2 MB"_s.arg(size.sessions).arg((size.bytes + 500000) / 1000000);
}

}

RecordingRetention::RecordingRetention(QString recordingsFolder, QObject* parent)
    : QObject(parent)
    , m_recordingsFolder(
          recordingsFolder.isEmpty() ? AudioTrackWriter::recordingsFolder() : std::move(recordingsFolder))
    , m_keepForever(QSettings().value(keepForeverKey, false).toBool())
    , m_summary(summaryText({}))
{
}

void RecordingRetention::setKeepForever(bool on)
{
    if (on == m_keepForever)
        return;
    m_keepForever = on;
    QSettings().setValue(keepForeverKey, on);
    emit keepForeverChanged();
}

std::optional<int> RecordingRetention::keepDays() const
{
    return m_keepForever ? std::nullopt : std::optional(defaultDays);
}

QUrl RecordingRetention::folderUrl() const
{
    return QUrl::fromLocalFile(m_recordingsFolder);
}

void RecordingRetention::refresh()
{
    auto* watcher = new QFutureWatcher<FolderSize>(this);
    connect(watcher, &QFutureWatcher<FolderSize>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QString text = summaryText(watcher->result());
        if (text != m_summary) {
            m_summary = text;
            emit summaryChanged();
        }
    });
    watcher->setFuture(QtConcurrent::run(measure, m_recordingsFolder));
}

void RecordingRetention::clearSegments(const SessionJournal& journal)
{
    // Only the segments of a track the service has: a track that never came out keeps its segments.
    QDir session(journal.folder());
    using Kind = SessionJournal::Kind;
    for (Kind kind : { Kind::Mic, Kind::System }) {
        const std::optional<SessionJournal::Track>& track = journal.track(kind);
        if (!track || !track->isUploaded())
            continue;
        // Journals of earlier versions do not list them: all of that source's segments.
        const QStringList names = !track->segments.isEmpty()
            ? track->segments
            : session.entryList({ kind == Kind::Mic ? u"mic_track_*.caf"_s : u"system_track_*.caf"_s }, QDir::Files);
        for (const QString& name : names) {
            if (session.exists(name) && !session.remove(name))
                log(u"Could not delete "_s + session.filePath(name));
        }
    }
}

void RecordingRetention::sweep(const QString& recordingsFolder, std::optional<int> keepDays, const QDateTime& now)
{
    const QDir root(recordingsFolder);
    for (const QString& name :
        root.entryList({ u"Session_*"_s }, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const QString folder = root.filePath(name);
        std::optional<SessionJournal> journal = SessionJournal::read(folder);
        // Only what the service has made a note of may go; everything else stays for good.
        if (!journal || journal->stage() != SessionJournal::Stage::Done || journal->noteId().value_or(0) <= 0)
            continue;
        if (!journal->noteArrivedAt()) {
            // Done before the arrival was written down: the period starts now.
            journal->setDone(now);
            try {
                journal->save();
            } catch (const std::exception& e) {
                log(u"Could not save "_s + journal->path() + u": "_s + QString::fromUtf8(e.what()));
                continue;
            }
        }
        if (keepDays && journal->noteArrivedAt()->addDays(*keepDays) < now) {
            if (QDir(folder).removeRecursively())
                log(u"Removed "_s + name + u" after its retention period"_s);
            else
                log(u"Could not remove "_s + folder);
            continue;
        }
        clearSegments(*journal);
    }
}
