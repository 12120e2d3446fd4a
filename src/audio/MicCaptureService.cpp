#include "MicCaptureService.h"

#include "BufferOutlet.h"
#include "Log.h"
#include "RecordStream.h"
#include "SoundServerConnection.h"

#include <mutex>

// What notifications need after they left the sound server's thread. Held
// weakly by them, so a late one for a gone service is skipped.
struct MicCaptureService::Watch {
    std::atomic<bool> running = false;
    // Advanced on every start(), so a notification about an earlier stream is ignored.
    std::atomic<std::uint64_t> generation = 0;
    std::mutex mutex;
    std::shared_ptr<const std::function<void()>> onConfigurationChange;

    void handleConfigurationChange(std::uint64_t streamGeneration)
    {
        if (!running || streamGeneration != generation)
            return;
        Log::line(QStringLiteral("[MicCaptureService] Audio hardware changed"));
        std::shared_ptr<const std::function<void()>> handler;
        {
            std::lock_guard lock(mutex);
            handler = onConfigurationChange;
        }
        if (handler)
            (*handler)();
    }
};

MicCaptureService::MicCaptureService(SerialQueue& writeQueue, QString server)
    : m_server(std::move(server))
    , m_timeout(SoundServerConnection::defaultTimeout)
    , m_outlet(std::make_shared<BufferOutlet>(writeQueue))
    , m_watch(std::make_shared<Watch>())
{
}

MicCaptureService::~MicCaptureService()
{
    stop();
}

bool MicCaptureService::isRunning() const
{
    return m_watch->running;
}

void MicCaptureService::setOnBuffer(BufferHandler handler)
{
    m_outlet->setHandler(std::move(handler));
}

void MicCaptureService::setOnConfigurationChange(std::function<void()> handler)
{
    auto shared = handler ? std::make_shared<const std::function<void()>>(std::move(handler)) : nullptr;
    std::lock_guard lock(m_watch->mutex);
    m_watch->onConfigurationChange = std::move(shared);
}

void MicCaptureService::start()
{
    if (m_watch->running)
        return;
    m_debugBufferCount = 0;

    // A new capture every time: the previous stream and its listener go first.
    stop();
    const std::uint64_t generation = ++m_watch->generation;
    m_connection = SoundServerConnection::shared(m_server, m_timeout);

    const auto source = m_connection->sourceInfo(m_connection->defaults(m_timeout).sourceName, m_timeout);
    m_format = AudioFormat { double(source.sampleSpec.rate), source.sampleSpec.channels,
        AudioFormat::CommonFormat::Float32, true };
    Log::line(QStringLiteral("[MicCaptureService] start() inputFormat=") + m_format.description());

    std::weak_ptr<Watch> watch = m_watch;
    auto reportChange = [watch, generation] {
        if (auto strong = watch.lock())
            strong->handleConfigurationChange(generation);
    };
    // The stream keeps the connection alive for as long as it can call back.
    SoundServerConnection* connection = m_connection.get();
    m_stream = std::make_unique<RecordStream>(
        m_connection, m_format,
        [this](std::shared_ptr<PcmBuffer> copy, std::size_t) { handleTapBuffer(std::move(copy)); },
        [connection, reportChange] { connection->postEvent(reportChange); });
    m_stream->create(QStringLiteral("Microphone"), source.channelMap);
    m_listener
        = m_connection->addListener([reportChange](const SoundServerConnection::DefaultsChange&) { reportChange(); });

    m_stream->connect(source.name, tapBufferFrames * m_format.bytesPerFrame());
    m_stream->waitUntilReady(m_timeout);
    m_watch->running = true;
    Log::line(QStringLiteral("[MicCaptureService] Engine started"));
}

void MicCaptureService::stop()
{
    if (m_connection && m_listener >= 0)
        m_connection->removeListener(m_listener);
    m_listener = -1;
    // The last partial fragment is still at the server; it belongs to the recording.
    if (m_stream && m_watch->running)
        m_stream->drain();
    m_stream.reset();
    m_watch->running = false;
}

// On the sound server's thread, with the samples already copied once: a log line only for the first 20, one submission.
void MicCaptureService::handleTapBuffer(std::shared_ptr<PcmBuffer> copy)
{
    const std::uint32_t frames = copy ? copy->frameLength() : 0;
    if (frames == 0)
        return;
    if (const int logged = m_debugBufferCount; logged <= 19) {
        Log::line(QStringLiteral("[MicCaptureService] Tap buffer #") + QString::number(logged)
            + QStringLiteral(": frames=") + QString::number(frames) + u' ' + m_format.description());
        m_debugBufferCount = logged + 1;
    }
    m_outlet->post(CapturedAudioBuffer {
        AudioCaptureSource::mic, hostTimeNow(), std::chrono::system_clock::now(), m_format, frames, std::move(copy) });
}
