#include "LiveTrackEncoder.h"

#include "FileError.h"
#include "Log.h"
#include "MediaModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <exception>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Per thread on Linux: the encoder yields to the capture, the interface and everything else.
constexpr int encoderNiceness = 10;
// The thread takes the queued buffers together once this much audio is queued, or after as long: a few
// wake-ups a second instead of one for every buffer the sound server hands over.
constexpr double batchSeconds = 0.5;
constexpr std::chrono::milliseconds batchWait { 500 };

void log(const QString& text)
{
    Log::line(QStringLiteral("[LiveTrackEncoder] ") + text);
}

int sampleFormat(AudioFormat::CommonFormat format)
{
    switch (format) {
    case AudioFormat::CommonFormat::Float64:
        return eqMediaFloat64;
    case AudioFormat::CommonFormat::Int16:
        return eqMediaInt16;
    case AudioFormat::CommonFormat::Int32:
        return eqMediaInt32;
    default:
        return eqMediaFloat32;
    }
}

}

LiveTrackEncoder::LiveTrackEncoder(QString trackPath, double maxLagSeconds, double checkpointSeconds)
    : m_trackPath(std::move(trackPath))
    , m_maxLagSeconds(maxLagSeconds)
    , m_checkpointSeconds(checkpointSeconds)
    , m_thread([this] { run(); })
{
}

LiveTrackEncoder::~LiveTrackEncoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    close();
    QFile::remove(checkpointOf(m_trackPath));
}

void LiveTrackEncoder::append(const CapturedAudioBuffer& buffer)
{
    if (m_gaveUp || !buffer.pcmBuffer || buffer.format.sampleRate <= 0.0)
        return;
    const double seconds = double(buffer.frameCount) / buffer.format.sampleRate;
    {
        std::lock_guard lock(m_mutex);
        if (m_pendingSeconds + m_encodingSeconds + seconds <= m_maxLagSeconds) {
            m_pending.push_back(buffer);
            m_pendingSeconds += seconds;
            if (m_pendingSeconds >= batchSeconds)
                m_wake.notify_one();
            return;
        }
    }
    fail(QStringLiteral("fell more than %1 s behind").arg(m_maxLagSeconds));
}

double LiveTrackEncoder::lagSeconds() const
{
    std::lock_guard lock(m_mutex);
    return m_pendingSeconds + m_encodingSeconds;
}

void LiveTrackEncoder::run()
{
    ::setpriority(PRIO_PROCESS, ::gettid(), encoderNiceness);
    for (;;) {
        std::deque<CapturedAudioBuffer> batch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, batchWait, [this] { return m_stopping || m_pendingSeconds >= batchSeconds; });
            if (m_stopping)
                return;
            batch.swap(m_pending);
            m_encodingSeconds = std::exchange(m_pendingSeconds, 0.0);
        }
        for (const CapturedAudioBuffer& buffer : batch)
            encode(buffer);
        std::lock_guard lock(m_mutex);
        m_encodingSeconds = 0.0;
    }
}

void LiveTrackEncoder::encode(const CapturedAudioBuffer& buffer)
{
    if (m_gaveUp)
        return;
    try {
        const MediaModule& media = MediaModule::instance();
        EqMediaFailure failure {};
        const AudioFormat& format = buffer.format;
        if (!m_track) {
            const QByteArray part = QFile::encodeName(partOf(m_trackPath));
            m_track = media.liveOpen(part.constData(), format.sampleRate, int(format.channelCount), &failure);
            if (!m_track)
                MediaModule::raise(failure);
        }
        const PcmBuffer& pcm = *buffer.pcmBuffer;
        std::vector<const void*> planes;
        for (std::uint32_t b = 0; b < pcm.bufferCount(); ++b)
            planes.push_back(pcm.data(b));
        if (media.livePush(m_track, planes.data(), int(pcm.frameLength()), sampleFormat(format.commonFormat),
                format.interleaved, format.sampleRate, int(format.channelCount), &failure)
            != 0)
            MediaModule::raise(failure);
        m_encodedFrames += pcm.frameLength();
        m_uncheckedSeconds += double(pcm.frameLength()) / format.sampleRate;
        if (m_uncheckedSeconds >= m_checkpointSeconds)
            checkpoint();
    } catch (const std::exception& error) {
        fail(QString::fromUtf8(error.what()));
    }
}

void LiveTrackEncoder::checkpoint()
{
    EqMediaFailure failure {};
    EqMediaCheckpoint checkpoint {};
    if (MediaModule::instance().liveCheckpoint(m_track, &checkpoint, &failure) != 0)
        MediaModule::raise(failure);
    const QJsonObject record { { QStringLiteral("packets"), qint64(checkpoint.packets) },
        { QStringLiteral("bytes"), qint64(checkpoint.bytes) },
        { QStringLiteral("inputFrames"), qint64(checkpoint.inputFrames) } };
    writePrivateFileAtomically(checkpointOf(m_trackPath), QJsonDocument(record).toJson(QJsonDocument::Compact));
    m_uncheckedSeconds = 0.0;
}

std::optional<EqMediaCheckpoint> LiveTrackEncoder::readCheckpoint(const QString& trackPath)
{
    QFile file(checkpointOf(trackPath));
    if (!file.open(QIODevice::ReadOnly) || !QFile::exists(partOf(trackPath)))
        return std::nullopt;
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    const qint64 packets = record.value(QStringLiteral("packets")).toInteger(-1);
    const qint64 bytes = record.value(QStringLiteral("bytes")).toInteger(-1);
    const qint64 frames = record.value(QStringLiteral("inputFrames")).toInteger(-1);
    if (packets < 0 || bytes < 0 || frames < 0)
        return std::nullopt;
    return EqMediaCheckpoint { std::uint64_t(packets), std::uint64_t(bytes), std::uint64_t(frames) };
}

void LiveTrackEncoder::removeLeftovers(const QString& trackPath)
{
    QFile::remove(partOf(trackPath));
    QFile::remove(checkpointOf(trackPath));
    // A checkpoint being written when the process died.
    const QFileInfo checkpoint(checkpointOf(trackPath));
    for (const QString& name : checkpoint.dir().entryList({ checkpoint.fileName() + QStringLiteral(".*.tmp") }))
        QFile::remove(checkpoint.dir().filePath(name));
}

// From either thread; the first reason is kept and the queued samples are freed.
void LiveTrackEncoder::fail(const QString& reason)
{
    std::lock_guard lock(m_mutex);
    if (m_gaveUp)
        return;
    m_gaveUp = true;
    m_failure = reason;
    m_pending.clear();
    m_pendingSeconds = 0.0;
    m_encodingSeconds = 0.0;
    log(QFileInfo(m_trackPath).fileName() + QStringLiteral(": encoding while recording stopped (") + reason
        + QStringLiteral(") — the track will be made from the segments"));
}

bool LiveTrackEncoder::finish(QString& whyNot)
{
    // The thread ends after its current buffer; what it left is encoded here, at the caller's priority.
    std::deque<CapturedAudioBuffer> tail;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    {
        std::lock_guard lock(m_mutex);
        tail.swap(m_pending);
    }
    const std::size_t tailBuffers = tail.size();
    for (const CapturedAudioBuffer& buffer : tail)
        encode(buffer);
    if (!m_gaveUp && !m_track)
        fail(QStringLiteral("no audio reached it"));
    if (!m_gaveUp) {
        try {
            EqMediaFailure failure {};
            if (MediaModule::instance().liveFinish(m_track, QFile::encodeName(m_trackPath).constData(), &failure) != 0)
                MediaModule::raise(failure);
            QFile::remove(checkpointOf(m_trackPath));
            log(QStringLiteral("Finished ") + QFileInfo(m_trackPath).fileName() + QStringLiteral(": ")
                + QString::number(m_encodedFrames) + QStringLiteral(" frames, ") + QString::number(tailBuffers)
                + QStringLiteral(" buffers left at stop"));
            close();
            return true;
        } catch (const std::exception& error) {
            fail(QString::fromUtf8(error.what()));
        }
    }
    std::lock_guard lock(m_mutex);
    whyNot = m_failure;
    return false;
}

void LiveTrackEncoder::close()
{
    if (m_track)
        MediaModule::instance().liveClose(m_track);
    m_track = nullptr;
}
