#include "Router.h"

#include "DevControls.h"
#include "HttpJson.h"

namespace {

thread_local Router::NotedBody t_body;

}

Router::Router(httplib::Server& server, DevControls* controls)
    : m_server(server)
    , m_controls(controls)
{
}

void Router::get(const std::string& pattern, Handler handler)
{
    m_server.Get(pattern, [this, handler](const httplib::Request& req, httplib::Response& res) {
        if (!intercepted(req, res))
            handler(req, res);
    });
}

void Router::del(const std::string& pattern, Handler handler)
{
    // The HTTP library routes a DELETE with a body to the body-reading handler, one without to the plain one.
    m_server.Delete(pattern, [this, handler](const httplib::Request& req, httplib::Response& res) {
        if (!intercepted(req, res))
            handler(req, res);
    });
    m_server.Delete(pattern,
        [this, handler](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
            noteBody({}, drain(reader));
            if (!intercepted(req, res))
                handler(req, res);
        });
}

void Router::post(const std::string& pattern, BodyHandler handler)
{
    m_server.Post(pattern, withBody(std::move(handler)));
}

void Router::patch(const std::string& pattern, BodyHandler handler)
{
    m_server.Patch(pattern, withBody(std::move(handler)));
}

void Router::put(const std::string& pattern, StreamHandler handler)
{
    m_server.Put(pattern,
        [this, handler](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
            if (intercepted(req, res)) {
                noteBody({}, drain(reader));
                return;
            }
            handler(req, res, reader);
        });
}

httplib::Server::HandlerWithContentReader Router::withBody(BodyHandler handler) const
{
    return [this, handler](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        const bool control = req.path.rfind("/__dev/", 0) == 0;
        const std::uint64_t limit = control ? controlBodyLimit : bodyLimit;
        std::string body;
        std::uint64_t bytes = 0;
        const bool complete = reader([&](const char* data, std::size_t size) {
            bytes += size;
            if (bytes <= limit)
                body.append(data, size);
            return true;
        });
        noteBody(bytes <= limit ? body : std::string(), bytes);
        if (intercepted(req, res))
            return;
        if (bytes > limit)
            return HttpJson::error(
                res, 413, control ? "The body is larger than 64 MiB" : "The body is larger than 1 MiB");
        if (!complete)
            return HttpJson::error(res, res.status == 413 ? 413 : 400, "The body could not be read");
        handler(req, res, body);
    };
}

bool Router::intercepted(const httplib::Request& req, httplib::Response& res) const
{
    return m_controls && req.path.rfind("/__dev/", 0) != 0 && m_controls->intercept(req, res);
}

void Router::addFallback()
{
    const auto notFound = [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
        noteBody({}, drain(reader));
        HttpJson::error(res, 404, "Not found");
    };
    m_server.Post(".*", notFound);
    m_server.Put(".*", notFound);
    m_server.Patch(".*", notFound);
    m_server.Delete(".*", notFound);
}

std::uint64_t Router::drain(const httplib::ContentReader& reader)
{
    std::uint64_t bytes = 0;
    reader([&](const char*, std::size_t size) {
        bytes += size;
        return true;
    });
    return bytes;
}

void Router::noteBody(std::string text, std::uint64_t bytes)
{
    t_body = { std::move(text), bytes };
}

Router::NotedBody Router::takeNotedBody()
{
    return std::exchange(t_body, {});
}
