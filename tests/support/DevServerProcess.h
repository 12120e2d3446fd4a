#pragma once

#include <httplib.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <string>

// The real local service (echoquill-devserver) started as a child process on a
// free loopback port with its test controls on. Any test that needs a whole
// service as its peer can use it; devserver/README.md lists the controls.
class DevServerProcess {
public:
    static inline const QString demoEmail = QStringLiteral("demo@echoquill.test");

    // `arguments` come after "--port 0 --dev-controls"; without "--data" the service is ephemeral.
    explicit DevServerProcess(QStringList arguments = {});
    ~DevServerProcess();
    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    [[nodiscard]] bool isRunning() const { return m_port > 0; }
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    [[nodiscard]] QUrl origin() const;
    [[nodiscard]] QUrl url(const QString& path) const;
    [[nodiscard]] std::string originText() const { return origin().toString().toStdString(); }
    [[nodiscard]] httplib::Client client() const;

    // Every line the service printed so far.
    QStringList lines();

    // A test control: the reply's JSON (null when the reply is not JSON); the status goes to `status`.
    QJsonValue control(
        const std::string& method, const std::string& path, const QJsonObject& body = {}, int* status = nullptr);
    // The service's log of requests to `path` ("*" at the end for a prefix), oldest first.
    QJsonArray requests(const QString& path);
    // How many of those the service answered with `method` (and, when given, a body of `bodyBytes`).
    int requestCount(const QString& method, const std::string& path, qint64 bodyBytes = -1);
    // A bearer token for the address; a new address makes a new account.
    QString signIn(const QString& email = demoEmail);
    // Back to the state after start: demo data, no faults, no latency, empty request log.
    void reset();

    // Asks the service to stop and waits; false unless it exited cleanly with status 0.
    bool stop();
    // Ends the service at once, as a crash would, and waits until it is gone.
    void kill();

private:
    void readOutput();

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    int m_port = -1;
};

// The parsed JSON of a reply body; null for an empty or non-JSON body.
QJsonValue jsonOf(const httplib::Result& result);
