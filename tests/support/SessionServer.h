#pragma once

#include "TestServer.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// A loopback stand-in for the service's sign-in endpoints with replies set per
// test: "/api/desktop/auth/otp" (request and verify), "/api/desktop/me" (per
// bearer token, optionally held back until released) and the Google sign-in
// page "/desktop-auth". Points the shared endpoints at itself while it lives.
class SessionServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
    };

    SessionServer();
    ~SessionServer();

    TestServer& http() { return m_http; }

    // The canned user record (tests/data/user.json).
    static std::string userJson();

    // Unknown tokens get 401; unknown codes 401; the code request 200.
    void setUserReply(const std::string& token, Reply reply);
    void setVerifyReply(const std::string& code, Reply reply);
    void setCodeRequestStatus(int status);

    using PageHandler = std::function<void(const httplib::Request&, httplib::Response&)>;
    void setSignInPage(PageHandler page);

    // The user reply for `token` waits until release() (or ten seconds).
    void holdUserReply(const std::string& token);
    void release();

    // Bearer tokens of the user requests that have arrived, held ones included.
    [[nodiscard]] std::vector<std::string> userRequestTokens() const;
    // Requests answered for `path` so far.
    [[nodiscard]] std::vector<TestServer::Received> requests(const std::string& path) const;

private:
    void waitIfHeld(const std::string& token);

    TestServer m_http;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::map<std::string, Reply> m_users;
    std::map<std::string, Reply> m_codes;
    int m_codeRequestStatus = 200;
    PageHandler m_signInPage;
    std::vector<std::string> m_userRequestTokens;
    std::string m_held;
    bool m_isReleased = false;
};
