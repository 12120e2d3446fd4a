#include "SystemAudioTapService.h"

#include "BufferOutlet.h"
#include "Log.h"
#include "RecordStream.h"
#include "SoundServerConnection.h"
#include "SoundServerError.h"

#include <algorithm>

SystemAudioTapService::SystemTapError::SystemTapError(Kind kind, std::int32_t status)
    : m_kind(kind)
    , m_status(status)
    , m_what(description().toUtf8())
{
}

QString SystemAudioTapService::SystemTapError::description() const
{
    QString text;
    switch (m_kind) {
    case serverUnreachable:
        text = QStringLiteral("Could not reach the sound server (");
        break;
    case streamCreationFailed:
        text = QStringLiteral("Could not open the computer-sound stream (");
        break;
    case streamConnectionFailed:
        text = QStringLiteral("Could not connect the computer-sound stream (");
        break;
    case streamStartFailed:
        text = QStringLiteral("Could not start the computer-sound stream (");
        break;
    case monitorNotFound:
        text = QStringLiteral("No output device to record the computer sound from (");
        break;
    case monitorFormatReadFailed:
        text = QStringLiteral("Could not read the computer sound's format (");
        break;
    }
    return text + QString::number(m_status) + u')';
}

SystemAudioTapService::SystemAudioTapService(SerialQueue& writeQueue, QString server)
    : m_server(std::move(server))
    , m_timeout(SoundServerConnection::defaultTimeout)
    , m_outlet(std::make_shared<BufferOutlet>(writeQueue))
{
}

SystemAudioTapService::~SystemAudioTapService()
{
    stop();
}

void SystemAudioTapService::setOnBuffer(BufferHandler handler)
{
    m_outlet->setHandler(std::move(handler));
}

void SystemAudioTapService::start()
{
    if (m_isRunning)
        return;
    // Runs one setup step; a server failure becomes the step's error after everything made so far is gone.
    auto step = [this](SystemTapError::Kind kind, auto&& action) {
        try {
            return action();
        } catch (const SoundServerError& error) {
            stop();
            throw SystemTapError(kind, error.code());
        }
    };

    m_connection = step(
        SystemTapError::serverUnreachable, [this] { return SoundServerConnection::shared(m_server, m_timeout); });
    const auto sink = step(SystemTapError::monitorNotFound, [this] {
        return m_connection->sinkInfo(
            m_sink.isEmpty() ? m_connection->defaults(m_timeout).sinkName : m_sink, m_timeout);
    });
    const QString monitor = sink.monitorSourceName;
    m_capturedSink = sink.name;
    if (monitor.isEmpty()) {
        stop();
        throw SystemTapError(SystemTapError::monitorNotFound, 0);
    }
    const auto source
        = step(SystemTapError::monitorFormatReadFailed, [&] { return m_connection->sourceInfo(monitor, m_timeout); });
    m_tapID = source.index;
    // A stereo mixdown of everything played, at the output's own rate.
    const AudioFormat format { double(source.sampleSpec.rate), 2, AudioFormat::CommonFormat::Float32, true };
    m_tapFormat = format;
    Log::line(QStringLiteral("[SystemAudioTapService] Tap format: sampleRate=") + sampleRateText(format.sampleRate)
        + QStringLiteral(" channels=") + QString::number(format.channelCount) + QStringLiteral(" bytesPerFrame=")
        + QString::number(format.bytesPerFrame()) + QStringLiteral(" flags=") + QString::number(format.formatFlags()));

    step(SystemTapError::streamCreationFailed, [&] {
        m_stream = std::make_unique<RecordStream>(
            m_connection, format,
            [this, format](
                std::shared_ptr<PcmBuffer> copy, std::size_t bytes) { handleCycle(format, std::move(copy), bytes); },
            RecordStream::InterruptionHandler());
        pa_channel_map stereo;
        pa_channel_map_init_stereo(&stereo);
        m_stream->create(QStringLiteral("Computer sound"), stereo);
    });
    step(SystemTapError::streamConnectionFailed,
        [&] { m_stream->connect(monitor, cycleFrames * format.bytesPerFrame()); });
    step(SystemTapError::streamStartFailed, [&] { m_stream->waitUntilReady(m_timeout); });
    m_streamIndex = m_stream->index();
    Log::line(QStringLiteral("[SystemAudioTapService] computer-sound stream started — stream=")
        + QString::number(*m_streamIndex) + QStringLiteral(" monitor=") + QString::number(*m_tapID));
    m_isRunning = true;
}

void SystemAudioTapService::stop()
{
    // The last partial fragment is still at the server; it belongs to the recording.
    if (m_stream && m_isRunning)
        m_stream->drain();
    m_isRunning = false;
    m_stream.reset();
    m_streamIndex.reset();
    m_tapID.reset();
    m_tapFormat.reset();
}

// On the sound server's thread, with the samples already copied once: frames follow from the
// delivered byte size, and a cycle shorter than one frame is dropped unlogged.
void SystemAudioTapService::handleCycle(const AudioFormat& format, std::shared_ptr<PcmBuffer> copy, std::size_t bytes)
{
    const std::size_t bytesPerFrame = std::max<std::size_t>(format.bytesPerFrame(), 1);
    if (bytes == 0 || bytes < bytesPerFrame)
        return;
    const auto frames = std::uint32_t(bytes / bytesPerFrame);
    if (const int logged = m_debugBufferCount; logged < 20) {
        Log::line(QStringLiteral("[SystemAudioTapService] stream buffer #") + QString::number(logged)
            + QStringLiteral(": buffers=1 sizes=[") + QString::number(bytes) + QStringLiteral("] frames=")
            + QString::number(frames) + u' ' + format.rateAndChannels() + QStringLiteral(" interleaved=")
            + (format.interleaved ? QStringLiteral("true") : QStringLiteral("false")));
        m_debugBufferCount = logged + 1;
    }
    if (!copy)
        return;
    m_outlet->post(CapturedAudioBuffer { AudioCaptureSource::systemOutput, hostTimeNow(),
        std::chrono::system_clock::now(), format, frames, std::move(copy) });
}
