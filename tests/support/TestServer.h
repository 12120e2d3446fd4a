#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server on a free loopback port inside the test process, with a log
// of what it received.
class TestServer {
public:
    struct Received {
        std::string method;
        std::string path;
        std::string query;
        std::string target; // the path and query as sent, still encoded
        httplib::Headers headers; // names in any case
        std::string body;

        [[nodiscard]] bool hasHeader(const std::string& name) const { return headers.contains(name); }
        [[nodiscard]] std::string header(const std::string& name) const;
    };

    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& server() { return m_server; }
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] QUrl origin() const;
    [[nodiscard]] QUrl url(const QString& path) const;

    // A scripted reply (JSON) for `method` and `pattern`: routes are added before
    // start(), the reply of a known route can change at any time.
    void reply(const std::string& method, const std::string& pattern, int status, std::string body = "{}");

    // Every request handled so far, in arrival order.
    [[nodiscard]] std::vector<Received> received() const;
    // How many of them went to `path`.
    [[nodiscard]] std::size_t count(const std::string& path) const;
    void clearReceived();

    void start();
    void stop();

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Received> m_received;
    std::map<std::string, std::pair<int, std::string>> m_replies;
    bool m_running = false;
};

// The JSON object `body` holds; empty when it holds none.
QJsonObject jsonObject(const std::string& body);

// A loopback port that nothing listens on.
int closedPort();
