#include "DevServer.h"

#include "Console.h"
#include "DemoData.h"
#include "HttpJson.h"

#include <algorithm>
#include <filesystem>

namespace {

// Tokens and recordings live in the data folder: only its owner may read it,
// also what earlier runs left there with looser modes.
void makePrivate(const std::filesystem::path& dataDir)
{
    namespace fs = std::filesystem;
    fs::create_directories(dataDir);
    fs::permissions(dataDir, fs::perms::owner_all);
    for (const auto& entry : fs::recursive_directory_iterator(dataDir))
        fs::permissions(
            entry.path(), entry.is_directory() ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

std::string databasePath(const ServerOptions& options)
{
    if (options.ephemeral)
        return {};
    makePrivate(options.dataDir);
    return options.dataDir + "/devserver.sqlite3";
}

}

DevServer::DevServer(const ServerOptions& options)
    : m_options(options)
    , m_scratch(options.ephemeral ? std::optional<QTemporaryDir>(std::in_place) : std::nullopt)
    , m_store(databasePath(options))
    , m_accounts(m_store,
          { options.codeValiditySeconds, options.codeTries, options.codeRequests, options.codeRequestWindowSeconds })
    , m_uploads(m_store, { options.clientTokenSeconds })
    , m_notes(m_store, { options.processingSeconds })
    , m_calendar(m_store)
    , m_blobs(blobRoot())
    , m_processing(m_store, m_notes, m_blobs)
    , m_service { m_store, m_accounts, m_uploads, m_notes, m_calendar, m_blobs, m_processing, {} }
    , m_controls(options.devControls ? std::make_unique<DevControls>(m_service, options.logSecrets) : nullptr)
    , m_router(m_http, m_controls.get())
    , m_api(m_service)
    , m_blobRoutes(m_service, options.blobLimitBytes)
    , m_pages(m_service)
{
    DemoData::seed(m_store, m_notes, m_calendar, m_store.nowMs());

    // Idle keep-alive connections each hold a worker; the client keeps several open.
    m_http.new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_http.set_payload_max_length(std::max<std::uint64_t>(options.blobLimitBytes, Router::controlBodyLimit));
    m_http.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        Console::line("error while serving " + req.method + " " + req.path + ": " + what);
        HttpJson::error(res, 500, "Internal error");
    });
    // Replies without a body of their own (an unknown path, a refused request) still explain themselves in JSON.
    m_http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // A reply that has a body already (a fault's comes from a content provider) keeps it.
        if (res.body.empty() && !res.content_provider_)
            HttpJson::error(res, res.status, res.status == 404 ? "Not found" : "Request failed");
    });
    if (m_controls) {
        // Logged just before the reply goes out, so a client that reads the log after its reply finds its request.
        m_http.set_post_routing_handler(
            [this](const httplib::Request& req, httplib::Response& res) { m_controls->record(req, res); });
        m_controls->registerOn(m_router);
    }
    m_api.registerOn(m_router);
    m_blobRoutes.registerOn(m_router);
    m_pages.registerOn(m_router);
    m_router.addFallback();
}

DevServer::~DevServer()
{
    stop();
}

std::string DevServer::blobRoot()
{
    if (m_scratch)
        return m_scratch->path().toStdString();
    return m_options.dataDir + "/blobs";
}

int DevServer::bind()
{
    int port = m_options.port;
    if (port == 0)
        port = m_http.bind_to_any_port("127.0.0.1");
    else if (!m_http.bind_to_port("127.0.0.1", port))
        port = -1;
    if (port > 0)
        m_service.origin = "http://127.0.0.1:" + std::to_string(port);
    return port;
}

void DevServer::run()
{
    m_processing.start();
    m_http.listen_after_bind();
}

bool DevServer::isRunning() const
{
    return m_http.is_running();
}

void DevServer::stop()
{
    m_http.stop();
    m_processing.stop();
}
