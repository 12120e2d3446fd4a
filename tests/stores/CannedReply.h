#pragma once

#include <httplib.h>

#include <mutex>
#include <string>

// A reply the test changes between requests while the server thread serves it.
class CannedReply {
public:
    CannedReply(int status, std::string body) : m_status(status), m_body(std::move(body)) { }

    void set(int status, std::string body)
    {
        std::lock_guard lock(m_mutex);
        m_status = status;
        m_body = std::move(body);
    }

    void serve(httplib::Response &res) const
    {
        std::lock_guard lock(m_mutex);
        res.status = m_status;
        res.set_content(m_body, "application/json");
    }

private:
    mutable std::mutex m_mutex;
    int m_status;
    std::string m_body;
};
