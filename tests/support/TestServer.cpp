#include "TestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonDocument>

#include <algorithm>
#include <chrono>

std::string TestServer::Received::header(const std::string& name) const
{
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

QJsonObject jsonObject(const std::string& body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

TestServer::TestServer()
{
    m_server.set_keep_alive_max_count(1);
    // Noted before the reply is written (a logger runs after it), so a client
    // that has its answer always finds its request here.
    m_server.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        Received r { req.method, req.path, {}, req.target, req.headers, req.body };
        std::string query;
        for (const auto& [k, v] : req.params)
            query += (query.empty() ? "" : "&") + k + "=" + v;
        r.query = query;
        std::lock_guard lock(m_mutex);
        m_received.push_back(std::move(r));
    });
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::start()
{
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    while (!m_server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_running = true;
}

void TestServer::stop()
{
    if (!m_running)
        return;
    m_server.stop();
    m_thread.join();
    m_running = false;
}

QUrl TestServer::origin() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port));
}

QUrl TestServer::url(const QString& path) const
{
    return QUrl(origin().toString() + path);
}

std::vector<TestServer::Received> TestServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void TestServer::reply(const std::string& method, const std::string& pattern, int status, std::string body)
{
    const std::string key = method + ' ' + pattern;
    {
        std::lock_guard lock(m_mutex);
        const bool known = m_replies.contains(key);
        m_replies[key] = { status, std::move(body) };
        if (known)
            return;
    }
    const auto serve = [this, key](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(m_mutex);
        const auto& [code, content] = m_replies.at(key);
        res.status = code;
        res.set_content(content, "application/json");
    };
    if (method == "GET")
        m_server.Get(pattern, serve);
    else if (method == "POST")
        m_server.Post(pattern, serve);
    else if (method == "PATCH")
        m_server.Patch(pattern, serve);
    else
        m_server.Put(pattern, serve);
}

std::size_t TestServer::count(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return std::count_if(m_received.begin(), m_received.end(), [&](const Received& r) { return r.path == path; });
}

void TestServer::clearReceived()
{
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

int closedPort()
{
    // Bind to a free port, then close it: nothing listens there afterwards.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}
