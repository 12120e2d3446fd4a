#pragma once

#include <httplib.h>

#include <QByteArray>
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
        std::multimap<std::string, std::string> headers;
        std::string body;

        [[nodiscard]] bool hasHeader(const std::string &name) const;
        [[nodiscard]] std::string header(const std::string &name) const;
    };

    TestServer();
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    httplib::Server &server() { return m_server; }
    [[nodiscard]] int port() const { return m_port; }
    [[nodiscard]] QUrl origin() const;
    [[nodiscard]] QUrl url(const QString &path) const;

    // Every request handled so far, in arrival order.
    [[nodiscard]] std::vector<Received> received() const;
    void clearReceived();

    void start();
    void stop();

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Received> m_received;
    bool m_running = false;
};

// A loopback port that nothing listens on.
int closedPort();
