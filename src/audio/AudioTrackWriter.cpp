#include "AudioTrackWriter.h"

#include "BuildConfig.h"
#include "FileError.h"
#include "Log.h"
#include "SegmentFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int sessionNameAttempts = 5;

void log(const QString& text)
{
    Log::line(QStringLiteral("[AudioTrackWriter] ") + text);
}

QString randomSuffix()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().left(6);
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Recordings are private to their owner, whatever the umask.
void makePrivate(const QString& directory)
{
    std::error_code error;
    std::filesystem::permissions(
        fsPath(directory), std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, error);
    if (error)
        throw FileError(error, directory);
}

}

AudioTrackWriter::AudioTrackWriter()
    : AudioTrackWriter(Options {})
{
}

AudioTrackWriter::AudioTrackWriter(Options options)
    : m_options(std::move(options))
{
    if (!m_options.now)
        m_options.now = [] { return QDateTime::currentDateTime(); };
    if (!m_options.nameSuffix)
        m_options.nameSuffix = randomSuffix;
    m_startTime = m_options.now();
    createSessionDirectory();
    log(QStringLiteral("Session directory: ") + m_sessionDirectory);
}

AudioTrackWriter::~AudioTrackWriter() = default;

QString AudioTrackWriter::recordingsFolder(const QString& documentsDirectory)
{
    const QString documents = documentsDirectory.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        : documentsDirectory;
    return documents.isEmpty() ? QString() : QDir(documents).filePath(QStringLiteral("Echoquill Recordings"));
}

void AudioTrackWriter::createSessionDirectory()
{
    const QString base = recordingsFolder(m_options.documentsDirectory);
    if (base.isEmpty())
        throw FileError(std::make_error_code(std::errc::no_such_file_or_directory), QStringLiteral("Documents"));
    std::error_code error;
    std::filesystem::create_directories(fsPath(base), error);
    if (error)
        throw FileError(error, base);
    makePrivate(base);

    const QString stamp = m_startTime.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
    for (int attempt = 0; attempt < sessionNameAttempts; ++attempt) {
        const QString candidate
            = QDir(base).filePath(QStringLiteral("Session_") + stamp + u'_' + m_options.nameSuffix());
        if (std::filesystem::exists(fsPath(candidate), error))
            continue;
        if (!std::filesystem::create_directory(fsPath(candidate), error) || error)
            throw FileError(error ? error : std::make_error_code(std::errc::file_exists), candidate);
        makePrivate(candidate);
        m_sessionDirectory = candidate;
        return;
    }
    throw FileError(std::make_error_code(std::errc::file_exists));
}

QString AudioTrackWriter::segmentPath(const char* pattern, int index) const
{
    return QDir(m_sessionDirectory).filePath(QString::asprintf(pattern, index));
}

void AudioTrackWriter::writeMic(const CapturedAudioBuffer& buffer)
{
    Track& mic = m_mic;
    if (mic.format && *mic.format != buffer.format) {
        log(QStringLiteral("Mic format changed ") + mic.format->rateAndChannels() + QStringLiteral(" → ")
            + buffer.format.rateAndChannels() + QStringLiteral(" — opening segment ")
            + QString::number(mic.segmentIndex + 1));
        mic.file.reset();
        ++mic.segmentIndex;
        mic.format.reset();
    }
    if (!mic.file) {
        const QString path = segmentPath("mic_track_%03d.caf", mic.segmentIndex);
        mic.file = openSegment(path, buffer.format);
        mic.format = buffer.format;
        if (!mic.file)
            return;
        mic.segmentURLs.append(path);
    }
    if (writeBuffer(*mic.file, buffer))
        mic.frameCount += buffer.frameCount;
}

void AudioTrackWriter::writeSystem(const CapturedAudioBuffer& buffer)
{
    Track& system = m_system;
    if (system.format && *system.format != buffer.format) {
        log(QStringLiteral("System format changed — opening segment ") + QString::number(system.segmentIndex + 1));
        system.file.reset();
        ++system.segmentIndex;
        system.format.reset();
    }
    if (system.file) {
        if (writeBuffer(*system.file, buffer))
            system.frameCount += buffer.frameCount;
        return;
    }
    // A new system segment counts only once its first buffer is in; otherwise it leaves no file behind.
    const QString path = segmentPath("system_track_%03d.caf", system.segmentIndex);
    auto file = openSegment(path, buffer.format);
    if (!file)
        return;
    if (!writeBuffer(*file, buffer)) {
        file.reset();
        QFile::remove(path);
        return;
    }
    system.file = std::move(file);
    system.format = buffer.format;
    system.segmentURLs.append(path);
    system.frameCount += buffer.frameCount;
}

void AudioTrackWriter::startNewSegments()
{
    for (Track* track : { &m_mic, &m_system }) {
        if (!track->file)
            continue;
        track->file.reset();
        ++track->segmentIndex;
        track->format.reset();
    }
}

std::unique_ptr<SegmentFile> AudioTrackWriter::openSegment(const QString& path, const AudioFormat& format)
{
    QString error;
    errno = 0;
    auto file = SegmentFile::create(path, format, m_options.headerUpdateSeconds, error);
    const QString name = QFileInfo(path).fileName();
    if (!file) {
        noteSystemError(errno);
        recordError(QStringLiteral("Could not open ") + name + QStringLiteral(": ") + error);
        return nullptr;
    }
    log(QStringLiteral("Opened ") + name + QStringLiteral(": processingFormat=")
        + file->processingFormat().description() + QStringLiteral(" inputFormat=") + format.description());
    return file;
}

bool AudioTrackWriter::writeBuffer(SegmentFile& file, const CapturedAudioBuffer& buffer)
{
    if (!buffer.pcmBuffer || buffer.pcmBuffer->frameLength() == 0) {
        recordError(QStringLiteral("Skipping ") + file.fileName() + QStringLiteral(": frameLength=0"));
        return false;
    }
    QString error;
    if (file.write(*buffer.pcmBuffer, error))
        return true;
    noteSystemError(file.lastSystemError());
    recordError(QStringLiteral("Write error ") + file.fileName() + QStringLiteral(": ") + error
        + QStringLiteral(" | processingFormat=") + file.processingFormat().description() + QStringLiteral(" buffer=")
        + buffer.format.description());
    return false;
}

void AudioTrackWriter::noteSystemError(int error)
{
    if (!m_diskFailure && (error == ENOSPC || error == EDQUOT || error == EIO || error == EROFS))
        m_diskFailure = std::error_code(error, std::generic_category());
}

void AudioTrackWriter::recordError(const QString& message)
{
    log(message);
    m_writeErrors.append(message);
}

RecordingFinalizeResult AudioTrackWriter::finalize()
{
    m_mic.file.reset();
    m_system.file.reset();
    if (!m_writeErrors.isEmpty()) {
        log(QStringLiteral("Write errors (") + QString::number(m_writeErrors.size()) + QStringLiteral("):"));
        for (const QString& error : std::as_const(m_writeErrors))
            log(QStringLiteral("  ") + error);
    }
    log(QStringLiteral("Finalized: micFrames=") + QString::number(m_mic.frameCount) + QStringLiteral(" systemFrames=")
        + QString::number(m_system.frameCount) + QStringLiteral(" micSegments=")
        + QString::number(m_mic.segmentURLs.size()) + QStringLiteral(" sysSegments=")
        + QString::number(m_system.segmentURLs.size()));

    const QString metadataPath = QDir(m_sessionDirectory).filePath(QStringLiteral("metadata.json"));
    writePrivateFileAtomically(metadataPath, metadata(m_options.now()));
    return { m_sessionDirectory, m_mic.segmentURLs, m_system.segmentURLs, metadataPath };
}

QByteArray AudioTrackWriter::metadata(const QDateTime& end) const
{
    QJsonArray tracks;
    auto addTrack = [&tracks](AudioCaptureSource source, const Track& track) {
        if (track.frameCount == 0)
            return;
        QJsonArray files;
        for (const QString& path : track.segmentURLs)
            files.append(QFileInfo(path).fileName());
        QJsonObject object { { QStringLiteral("source"), sourceName(source) }, { QStringLiteral("files"), files } };
        if (track.format) {
            const double rate = track.format->sampleRate;
            object.insert(QStringLiteral("sampleRate"), rate);
            object.insert(QStringLiteral("channels"), qint64(track.format->channelCount));
            object.insert(QStringLiteral("totalFrameCount"), qint64(track.frameCount));
            object.insert(QStringLiteral("durationSeconds"), double(track.frameCount) / (rate > 1.0 ? rate : 1.0));
        }
        tracks.append(object);
    };
    addTrack(AudioCaptureSource::mic, m_mic);
    addTrack(AudioCaptureSource::systemOutput, m_system);

    const QString version = QString::fromUtf8(BuildConfig::appVersion);
    const QJsonObject root {
        { QStringLiteral("recordingStarted"), m_startTime.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("recordingEnded"), end.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("durationSeconds"), double(m_startTime.msecsTo(end)) / 1000.0 },
        { QStringLiteral("tracks"), tracks },
        { QStringLiteral("appVersion"), version.isEmpty() ? QStringLiteral("unknown") : version },
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
