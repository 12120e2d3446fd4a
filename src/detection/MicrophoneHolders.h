#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

struct pa_context;
struct pa_threaded_mainloop;

// The record streams other processes have open on the sound server: who holds
// a microphone right now. Kept current from the server's events on a
// connection of its own, never by asking again; a lost server is looked for
// again after `retryAfter`, quietly, since many desktops have none.
class MicrophoneHolders : public QObject {
    Q_OBJECT

public:
    struct Stream {
        QString applicationName; // application.name
        QString processBinary; // application.process.binary
        QString mediaName; // media.name, e.g. a browser's page
        bool operator==(const Stream&) const = default;
    };

    // An empty server means libpulse's default (PULSE_SERVER or client.conf). Never waits for the server.
    explicit MicrophoneHolders(
        QString server = {}, std::chrono::milliseconds retryAfter = std::chrono::seconds(5), QObject* parent = nullptr);
    ~MicrophoneHolders() override;

    // Without this process's own streams; empty while there is no server.
    [[nodiscard]] const QList<Stream>& streams() const { return m_streams; }

signals:
    void streamsChanged();

private:
    // Both expect the loop locked.
    void connectToServer();
    void dropContext();
    void listStreams();
    void setStreams(QList<Stream> streams);

    static void onContextState(pa_context* context, void* self);

    QString m_server;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    QList<Stream> m_streams;
    // The list being read; only the loop thread touches it, or anyone with the loop locked.
    QList<Stream> m_collecting;
    QTimer m_retry;
};
