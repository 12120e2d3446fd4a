#include "Processing.h"

#include "Console.h"
#include "Dates.h"
#include "MediaProbe.h"

#include <QJsonArray>

#include <chrono>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

Processing::Processing(Store& store, Notes& notes, BlobStore& blobs)
    : m_store(store)
    , m_notes(notes)
    , m_blobs(blobs)
{
}

Processing::~Processing()
{
    stop();
}

void Processing::start()
{
    m_thread = std::thread([this] {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            finishDue();
            lock.lock();
            m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_stopping; });
        }
    });
}

void Processing::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::int64_t> Processing::finishDue(bool all)
{
    const auto pending = m_notes.due(all ? std::numeric_limits<std::int64_t>::max() : m_store.nowMs());
    std::vector<std::int64_t> finished;
    for (const auto& note : pending) {
        const auto seconds = MediaProbe::audioDurationSeconds(m_blobs.fileFor(note.micBlob));
        // Two callers may race for one note; only the one that completes it reports it.
        if (!m_notes.complete(note.id, noteFor(note, seconds)))
            continue;
        finished.push_back(note.id);
        Console::line("note " + std::to_string(note.id) + " is ready ("
            + (seconds ? durationText(*seconds).toStdString() : std::string("length unknown")) + ")");
    }
    return finished;
}

QString Processing::durationText(double seconds)
{
    const auto whole = std::int64_t(std::llround(seconds));
    if (whole < 60)
        return QString::number(whole) + u" sec"_s;
    const std::int64_t minutes = whole / 60;
    if (minutes < 60)
        return QString::number(minutes) + u" min"_s;
    return QString::number(minutes / 60) + u" h "_s + QString::number(minutes % 60) + u" min"_s;
}

QJsonObject Processing::noteFor(const Notes::Pending& pending, std::optional<double> micSeconds)
{
    const QString length = micSeconds ? durationText(*micSeconds) : QString();
    const QString tracks = pending.systemBlob ? u"the microphone and the computer's sound"_s : u"the microphone"_s;
    QString summary = u"This recording of "_s + tracks + u" is stored by the local Echoquill service"_s
        + (micSeconds ? u" ("_s + length + u")."_s : u"; its length could not be read."_s)
        + u" The local service keeps recordings but does not transcribe them, so this note has no transcript, "
          "decisions or action items."_s;

    QStringList files { u"Microphone: "_s + QString::fromStdString(pending.micBlob) };
    if (pending.systemBlob)
        files << u"Computer sound: "_s + QString::fromStdString(*pending.systemBlob);

    QJsonObject properties { { u"source"_s, u"Desktop"_s }, { u"recorded"_s, Dates::recorded(pending.createdMs) } };
    QJsonObject doc {
        { u"title"_s, u"Desktop recording, "_s + Dates::clock(pending.createdMs) },
        { u"participants"_s, QJsonArray() },
        { u"snippet"_s, u"Stored by the local service, not transcribed."_s },
        { u"summaryText"_s, summary },
        { u"decisions"_s, QJsonArray() },
        { u"actionItems"_s, QJsonArray() },
        { u"topics"_s,
            QJsonArray { QJsonObject {
                { u"title"_s, u"Stored tracks"_s }, { u"bullets"_s, QJsonArray::fromStringList(files) } } } },
    };
    if (micSeconds) {
        doc[u"duration"_s] = length;
        properties[u"durationSeconds"_s] = qint64(std::llround(*micSeconds));
    }
    doc[u"properties"_s] = properties;
    return doc;
}
