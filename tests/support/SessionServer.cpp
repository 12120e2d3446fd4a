#include "SessionServer.h"

#include "APIClient.h"
#include "Endpoints.h"

#include <QFile>
#include <QJsonObject>

#include <chrono>

SessionServer::SessionServer()
{
    m_http.server().Post("/api/desktop/auth/otp", [this](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject body = jsonObject(req.body);
        std::lock_guard lock(m_mutex);
        if (body.value(QStringLiteral("step")).toString() == QStringLiteral("request")) {
            res.status = m_codeRequestStatus;
            res.set_content(R"({"success":true})", "application/json");
            return;
        }
        const auto it = m_codes.find(body.value(QStringLiteral("otpCode")).toString().toStdString());
        const Reply reply = it != m_codes.end() ? it->second : Reply { 401, R"({"error":"invalid code"})" };
        res.status = reply.status;
        res.set_content(reply.body, "application/json");
    });
    m_http.server().Get("/api/desktop/me", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string auth = req.get_header_value("Authorization");
        const std::string token = auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : std::string();
        {
            std::lock_guard lock(m_mutex);
            m_userRequestTokens.push_back(token);
        }
        waitIfHeld(token);
        std::lock_guard lock(m_mutex);
        const auto it = m_users.find(token);
        const Reply reply = it != m_users.end() ? it->second : Reply { 401, R"({"error":"unauthorized"})" };
        res.status = reply.status;
        res.set_content(reply.body, "application/json");
    });
    m_http.server().Get("/desktop-auth", [this](const httplib::Request& req, httplib::Response& res) {
        PageHandler page;
        {
            std::lock_guard lock(m_mutex);
            page = m_signInPage;
        }
        if (page)
            page(req, res);
        else
            res.status = 404;
    });
    m_http.start();
    Endpoints::setServiceOrigin(m_http.origin());
}

SessionServer::~SessionServer()
{
    release();
    APIClient::shared().network().clearConnectionCache();
    m_http.stop();
}

std::string SessionServer::userJson()
{
    QFile file(QStringLiteral(EQ_TEST_DATA_DIR "/user.json"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data: %s", qPrintable(file.fileName()));
    return file.readAll().toStdString();
}

void SessionServer::setUserReply(const std::string& token, Reply reply)
{
    std::lock_guard lock(m_mutex);
    m_users[token] = std::move(reply);
}

void SessionServer::setVerifyReply(const std::string& code, Reply reply)
{
    std::lock_guard lock(m_mutex);
    m_codes[code] = std::move(reply);
}

void SessionServer::setCodeRequestStatus(int status)
{
    std::lock_guard lock(m_mutex);
    m_codeRequestStatus = status;
}

void SessionServer::setSignInPage(PageHandler page)
{
    std::lock_guard lock(m_mutex);
    m_signInPage = std::move(page);
}

void SessionServer::holdUserReply(const std::string& token)
{
    std::lock_guard lock(m_mutex);
    m_held = token;
    m_isReleased = false;
}

void SessionServer::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_isReleased = true;
    }
    m_released.notify_all();
}

std::vector<std::string> SessionServer::userRequestTokens() const
{
    std::lock_guard lock(m_mutex);
    return m_userRequestTokens;
}

std::vector<TestServer::Received> SessionServer::requests(const std::string& path) const
{
    std::vector<TestServer::Received> out;
    for (auto& r : m_http.received())
        if (r.path == path)
            out.push_back(r);
    return out;
}

void SessionServer::waitIfHeld(const std::string& token)
{
    std::unique_lock lock(m_mutex);
    if (m_held.empty() || token != m_held)
        return;
    m_released.wait_for(lock, std::chrono::seconds(10), [this] { return m_isReleased; });
}
