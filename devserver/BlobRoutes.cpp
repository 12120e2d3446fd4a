#include "BlobRoutes.h"

#include "HttpJson.h"
#include "Router.h"

#include <QString>

#include <charconv>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

std::optional<std::uint64_t> decimal(const std::string& text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}

BlobRoutes::BlobRoutes(Service& service, std::uint64_t limitBytes)
    : m_service(service)
    , m_limitBytes(limitBytes)
{
}

void BlobRoutes::registerOn(Router& router)
{
    router.put("/blob/(.*)",
        [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
            put(req, res, reader);
        });
    router.get("/blob/(.*)", [this](const httplib::Request& req, httplib::Response& res) { get(req, res); });
}

void BlobRoutes::put(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader)
{
    const std::string pathname = req.matches[1];
    // Every refusal reads the body to its end first, so that the client gets the reply.
    const auto refuse = [&](int status, const std::string& message) {
        Router::noteBody({}, Router::drain(reader));
        HttpJson::error(res, status, message);
    };
    if (!BlobStore::isValidPathname(pathname))
        return refuse(400, "The path name must be recordings/<uuid>.<extension>");
    const std::string token = HttpJson::bearer(req);
    const Uploads::Grant grant
        = token.empty() ? Uploads::Grant {} : m_service.uploads.checkClientToken(token, pathname);
    switch (grant.check) {
    case Uploads::Check::Unknown:
        return refuse(401, token.empty() ? "Missing client token" : "Unknown client token");
    case Uploads::Check::Expired:
        return refuse(401, "The client token has expired");
    case Uploads::Check::OtherPathname:
        return refuse(403, "The client token is for another path name");
    case Uploads::Check::Valid:
        break;
    }
    const auto declared = decimal(req.get_header_value("x-content-length"));
    if (!declared)
        return refuse(400, "x-content-length must give the body's size in bytes");
    if (*declared > m_limitBytes)
        return refuse(413, "The blob is larger than " + std::to_string(m_limitBytes) + " bytes");

    auto upload = m_service.blobs.begin(pathname);
    if (!upload)
        return refuse(500, "The blob store cannot write its files");
    // After a failure the rest of the body is still read, and thrown away.
    bool tooLarge = false, diskFull = false;
    std::uint64_t received = 0;
    const bool complete = reader([&](const char* data, std::size_t size) {
        received += size;
        tooLarge = tooLarge || received > m_limitBytes;
        if (!tooLarge && !diskFull)
            diskFull = !upload->write(data, size);
        return true;
    });
    Router::noteBody({}, received);
    if (tooLarge)
        return HttpJson::error(res, 413, "The blob is larger than " + std::to_string(m_limitBytes) + " bytes");
    if (diskFull)
        return HttpJson::error(res, 500, "The blob could not be written");
    if (!complete)
        return HttpJson::error(res, res.status == 413 ? 413 : 400, "The body could not be read");
    if (received != *declared)
        return HttpJson::error(res, 400,
            "x-content-length says " + std::to_string(*declared) + " bytes but the body has "
                + std::to_string(received));
    if (!upload->commit())
        return HttpJson::error(res, 500, "The blob could not be stored");

    const std::string contentType = req.has_header("Content-Type") ? req.get_header_value("Content-Type")
                                                                   : std::string("application/octet-stream");
    m_service.uploads.recordBlob(pathname, grant.accountId, *declared, contentType);
    const QString url = QString::fromStdString(m_service.origin + "/blob/" + pathname);
    HttpJson::reply(res, 200,
        { { u"url"_s, url }, { u"downloadUrl"_s, url }, { u"pathname"_s, QString::fromStdString(pathname) },
            { u"contentType"_s, QString::fromStdString(contentType) } });
}

void BlobRoutes::get(const httplib::Request& req, httplib::Response& res)
{
    const std::string pathname = req.matches[1];
    const auto blob = BlobStore::isValidPathname(pathname) ? m_service.uploads.blob(pathname) : std::nullopt;
    std::FILE* file = blob ? std::fopen(m_service.blobs.fileFor(pathname).c_str(), "rb") : nullptr;
    if (!file)
        return HttpJson::error(res, 404, "No such blob");
    auto shared = std::shared_ptr<std::FILE>(file, std::fclose);
    res.set_content_provider(
        blob->size, blob->contentType, [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char buffer[64 * 1024];
            if (std::fseek(shared.get(), long(offset), SEEK_SET) != 0)
                return false;
            const std::size_t read = std::fread(buffer, 1, std::min(length, sizeof buffer), shared.get());
            return read > 0 && sink.write(buffer, read);
        });
}
