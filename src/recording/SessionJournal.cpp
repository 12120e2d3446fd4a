#include "SessionJournal.h"

#include "FileError.h"
#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

constexpr std::array stageNames { "recording", "finalized", "exported", "uploading", "notified", "done", "failed" };

QJsonValue dateValue(const std::optional<QDateTime>& date)
{
    return date ? QJsonValue(date->toUTC().toString(Qt::ISODateWithMs)) : QJsonValue(QJsonValue::Null);
}

std::optional<QDateTime> dateOf(const QJsonValue& value)
{
    const QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

QJsonValue trackValue(const std::optional<SessionJournal::Track>& track)
{
    if (!track)
        return QJsonValue::Null;
    return QJsonObject { { u"file"_s, track->file }, { u"segments"_s, QJsonArray::fromStringList(track->segments) },
        { u"pathName"_s, track->pathName }, { u"blobUrl"_s, track->blobUrl } };
}

// A name the journal may join to its folder: one path component, no way out of it.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != "."_L1 && name != ".."_L1 && !name.contains(u'/') && !name.contains(u'\0');
}

std::optional<SessionJournal::Track> trackOf(const QJsonValue& value)
{
    if (!value.isObject() || value["file"_L1].toString().isEmpty())
        return std::nullopt;
    QStringList segments;
    for (const QJsonValue& segment : value["segments"_L1].toArray())
        segments << segment.toString();
    return SessionJournal::Track { value["file"_L1].toString(), segments, value["pathName"_L1].toString(),
        value["blobUrl"_L1].toString() };
}

bool namesArePlain(const std::optional<SessionJournal::Track>& track)
{
    return !track
        || (isPlainName(track->file) && std::all_of(track->segments.begin(), track->segments.end(), isPlainName));
}

}

SessionJournal::Track SessionJournal::Track::of(const QString& filePath, const QStringList& segmentPaths)
{
    QStringList names;
    for (const QString& segment : segmentPaths)
        names << QFileInfo(segment).fileName();
    return { QFileInfo(filePath).fileName(), names, {}, {} };
}

SessionJournal::SessionJournal(QString folder, QDateTime startedAt)
    : m_folder(std::move(folder))
    , m_startedAt(std::move(startedAt))
{
}

QString SessionJournal::path() const
{
    return QDir(m_folder).filePath(fileName);
}

QString SessionJournal::filePath(const Track& track) const
{
    return QDir(m_folder).filePath(track.file);
}

QString SessionJournal::stageName(Stage stage)
{
    return QString::fromLatin1(stageNames[size_t(stage)]);
}

QJsonObject SessionJournal::toJson() const
{
    QJsonObject failure;
    if (m_failure)
        failure = { { u"reason"_s, m_failure->reason }, { u"attempts"_s, m_failure->attempts },
            { u"nextTry"_s, dateValue(m_failure->nextTry) } };
    return {
        { u"version"_s, 1 },
        { u"stage"_s, stageName(m_stage) },
        { u"startedAt"_s, dateValue(m_startedAt) },
        { u"owner"_s,
            m_owner ? QJsonValue(QJsonObject { { u"id"_s, m_owner->id }, { u"email"_s, m_owner->email } })
                    : QJsonValue(QJsonValue::Null) },
        { u"noteArrivedAt"_s, dateValue(m_noteArrivedAt) },
        { u"durationSeconds"_s, m_durationSeconds },
        { u"mic"_s, trackValue(m_mic) },
        { u"system"_s, trackValue(m_system) },
        { u"noteId"_s, m_noteId ? QJsonValue(*m_noteId) : QJsonValue(QJsonValue::Null) },
        { u"failure"_s, m_failure ? QJsonValue(failure) : QJsonValue(QJsonValue::Null) },
        { u"interrupted"_s, m_interrupted },
        { u"dismissed"_s, m_dismissed },
        { u"updatedAt"_s, dateValue(QDateTime::currentDateTimeUtc()) },
    };
}

std::optional<SessionJournal> SessionJournal::read(const QString& folder)
{
    QFile file(QDir(folder).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &error).object();
    const auto stage = std::find(stageNames.begin(), stageNames.end(), root["stage"_L1].toString().toStdString());
    if (error.error != QJsonParseError::NoError || stage == stageNames.end()) {
        Log::line(u"[SessionJournal] unreadable journal in "_s + folder);
        return std::nullopt;
    }
    SessionJournal journal(folder, dateOf(root["startedAt"_L1]).value_or(QDateTime()));
    journal.m_stage = Stage(stage - stageNames.begin());
    journal.m_durationSeconds = root["durationSeconds"_L1].toDouble();
    journal.m_mic = trackOf(root["mic"_L1]);
    journal.m_system = trackOf(root["system"_L1]);
    if (!namesArePlain(journal.m_mic) || !namesArePlain(journal.m_system)) {
        Log::line(u"[SessionJournal] refused journal naming a file outside "_s + folder);
        return std::nullopt;
    }
    if (const QJsonValue owner = root["owner"_L1]; owner.isObject() && !owner["id"_L1].toString().isEmpty())
        journal.m_owner = Owner { owner["id"_L1].toString(), owner["email"_L1].toString() };
    journal.m_noteArrivedAt = dateOf(root["noteArrivedAt"_L1]);
    if (root["noteId"_L1].isDouble())
        journal.m_noteId = qint64(root["noteId"_L1].toDouble());
    if (const QJsonValue failure = root["failure"_L1]; failure.isObject())
        journal.m_failure = Failure { failure["reason"_L1].toString(), failure["attempts"_L1].toInt(),
            dateOf(failure["nextTry"_L1]) };
    journal.m_interrupted = root["interrupted"_L1].toBool();
    journal.m_dismissed = root["dismissed"_L1].toBool();
    return journal;
}

void SessionJournal::save() const
{
    writePrivateFileAtomically(path(), QJsonDocument(toJson()).toJson(QJsonDocument::Indented));
}

SessionJournal::Stage SessionJournal::progressStage() const
{
    if (m_noteId)
        return Stage::Notified;
    if ((m_mic && !m_mic->pathName.isEmpty()) || (m_system && !m_system->pathName.isEmpty()))
        return Stage::Uploading;
    if (m_mic)
        return Stage::Exported;
    return m_stage == Stage::Recording ? Stage::Recording : Stage::Finalized;
}

void SessionJournal::setFinalized(double durationSeconds)
{
    m_durationSeconds = durationSeconds;
    m_stage = Stage::Finalized;
}

void SessionJournal::setExported(const Track& mic, const std::optional<Track>& system)
{
    m_mic = mic;
    m_system = system;
    m_stage = Stage::Exported;
    m_failure.reset();
}

void SessionJournal::setUploading(Kind kind, const QString& pathName)
{
    std::optional<Track>& track = kind == Kind::Mic ? m_mic : m_system;
    if (track) {
        track->pathName = pathName;
        track->blobUrl.clear();
    }
    m_stage = Stage::Uploading;
}

void SessionJournal::setUploaded(Kind kind, const QString& blobUrl)
{
    std::optional<Track>& track = kind == Kind::Mic ? m_mic : m_system;
    if (track)
        track->blobUrl = blobUrl;
    m_stage = Stage::Uploading;
}

void SessionJournal::setNotified(qint64 noteId)
{
    m_noteId = noteId;
    m_stage = Stage::Notified;
    m_failure.reset();
}

void SessionJournal::setDone(const QDateTime& at)
{
    if (!m_noteArrivedAt)
        m_noteArrivedAt = at;
    m_stage = Stage::Done;
    m_failure.reset();
}

void SessionJournal::setFailed(const Failure& failure)
{
    m_failure = failure;
    m_stage = Stage::Failed;
}

void SessionJournal::setWaiting(const Failure& failure)
{
    m_failure = failure;
}

void SessionJournal::clearFailure()
{
    m_failure.reset();
    if (m_stage == Stage::Failed)
        m_stage = progressStage();
}
