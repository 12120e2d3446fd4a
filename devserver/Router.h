#pragma once

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>

class DevControls;

// Registers routes on the HTTP server so that every request goes the same
// way: its body is read (or left to a streaming handler), the test controls
// may delay or answer it, and only then the handler runs.
class Router {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    using BodyHandler = std::function<void(const httplib::Request&, httplib::Response&, const std::string& body)>;
    using StreamHandler
        = std::function<void(const httplib::Request&, httplib::Response&, const httplib::ContentReader&)>;

    // Largest JSON or form body; a larger one is answered 413.
    static constexpr std::uint64_t bodyLimit = 1 << 20;
    // Largest body of a test control, so that a fault can carry a reply of many megabytes.
    static constexpr std::uint64_t controlBodyLimit = 64 << 20;

    // `controls` may be null: then nothing is delayed or injected.
    Router(httplib::Server& server, DevControls* controls);

    void get(const std::string& pattern, Handler handler);
    void post(const std::string& pattern, BodyHandler handler);
    void patch(const std::string& pattern, BodyHandler handler);
    void del(const std::string& pattern, Handler handler);
    // The handler reads the body itself, streaming.
    void put(const std::string& pattern, StreamHandler handler);
    // Registered after every route: a body sent to an unknown path is read and
    // thrown away instead of being held in memory, and the reply is 404.
    void addFallback();

    // Reads and discards what is left of a body, so that an early reply still
    // reaches a client that is busy sending; returns the bytes read.
    static std::uint64_t drain(const httplib::ContentReader& reader);

    // What the request log shows as the body of the request this thread serves.
    static void noteBody(std::string text, std::uint64_t bytes);
    struct NotedBody {
        std::string text;
        std::uint64_t bytes = 0;
    };
    static NotedBody takeNotedBody();

private:
    [[nodiscard]] bool intercepted(const httplib::Request& req, httplib::Response& res) const;
    httplib::Server::HandlerWithContentReader withBody(BodyHandler handler) const;

    httplib::Server& m_server;
    DevControls* m_controls;
};
