#pragma once

#include "Service.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonObject>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Router;

// The test controls under /__dev/: injected failures, added latency, the log
// of received requests, one-time codes, the clock, processing and reset.
// Described for other tests in devserver/README.md.
class DevControls {
public:
    // Without `logSecrets` the request log keeps bearer tokens and one-time codes redacted.
    DevControls(Service& service, bool logSecrets);

    void registerOn(Router& router);

    // Runs before every handler outside /__dev/: waits the added latency, then
    // answers with an injected failure when one matches (true).
    bool intercept(const httplib::Request& req, httplib::Response& res);
    // Adds a served request outside /__dev/ to the log.
    void record(const httplib::Request& req, const httplib::Response& res);

    // Everything back to the state after start: demo data, no faults, no latency, empty log.
    void reset();

private:
    struct Fault {
        std::string path; // exact, or a prefix when it ends in '*'
        std::optional<std::string> method;
        int status = 500;
        int remaining = 1; // -1: until reset
        std::optional<std::string> body;
        std::string contentType;

        [[nodiscard]] bool matches(const httplib::Request& req) const;
        [[nodiscard]] QJsonObject toJson() const;
    };

    void addFault(const std::string& body, httplib::Response& res);
    void setLatency(const std::string& body, httplib::Response& res);
    QJsonArray faultList() const;
    QJsonArray latencyList() const;
    int latencyFor(const std::string& path) const;

    static constexpr std::size_t logLimit = 10000;

    Service& m_service;
    bool m_logSecrets;
    mutable std::mutex m_mutex;
    std::vector<Fault> m_faults;
    std::map<std::string, int> m_latencyMs; // path pattern ("" for every path) → milliseconds
    std::deque<QJsonObject> m_log;
};
