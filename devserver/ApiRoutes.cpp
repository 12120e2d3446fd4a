#include "ApiRoutes.h"

#include "Console.h"
#include "HttpJson.h"
#include "Router.h"

#include <QString>

using namespace Qt::StringLiterals;

namespace {

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

std::optional<std::string> sourceParam(const httplib::Request& req)
{
    return req.has_param("source") ? std::optional(req.get_param_value("source")) : std::nullopt;
}

QJsonObject envelope(const QJsonValue& data)
{
    return { { u"success"_s, true }, { u"data"_s, data } };
}

// A member that must be a string when present; `ok` turns false when it is of another type.
std::optional<QString> optionalString(const QJsonObject& object, const QString& key, bool& ok)
{
    const QJsonValue value = object[key];
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    ok = ok && value.isString();
    return value.toString();
}

}

ApiRoutes::ApiRoutes(Service& service)
    : m_service(service)
{
}

void ApiRoutes::registerOn(Router& router)
{
    router.post("/api/desktop/auth/otp",
        [this](const httplib::Request&, httplib::Response& res, const std::string& body) { oneTimeCode(body, res); });
    router.get("/api/desktop/me", [this](const httplib::Request& req, httplib::Response& res) {
        if (const auto account = authorize(req, res))
            HttpJson::reply(res, 200, account->toJson());
    });
    router.post("/api/desktop/meeting-notes/upload-token",
        [this](const httplib::Request& req, httplib::Response& res, const std::string& body) {
            uploadToken(req, body, res);
        });
    router.post("/api/desktop/meeting-notes",
        [this](
            const httplib::Request& req, httplib::Response& res, const std::string& body) { notify(req, body, res); });

    router.get("/api/v2/meeting-notes", [this](const httplib::Request& req, httplib::Response& res) {
        const auto account = authorize(req, res);
        if (!account)
            return;
        m_service.processing.finishDue();
        HttpJson::reply(res, 200, envelope(m_service.notes.list(account->id)));
    });
    router.get(R"(/api/v2/meeting-notes/(\d{1,18}))", [this](const httplib::Request& req, httplib::Response& res) {
        const auto account = authorize(req, res);
        if (!account)
            return;
        m_service.processing.finishDue();
        const auto detail = m_service.notes.detail(account->id, std::stoll(req.matches[1]), sourceParam(req));
        if (!detail)
            return HttpJson::error(res, 404, "No such note");
        HttpJson::reply(res, 200, envelope(*detail));
    });
    router.patch(R"(/api/v2/meeting-notes/(\d{1,18})/action-items/(.+))",
        [this](const httplib::Request& req, httplib::Response& res, const std::string& body) {
            setActionItem(req, body, res);
        });
    router.get("/api/v2/action-items", [this](const httplib::Request& req, httplib::Response& res) {
        const auto account = authorize(req, res);
        if (!account)
            return;
        m_service.processing.finishDue();
        HttpJson::reply(res, 200, envelope(m_service.notes.actionItems(account->id)));
    });

    router.get("/api/recall/calendar/status", [this](const httplib::Request& req, httplib::Response& res) {
        const auto account = authorize(req, res);
        if (!account)
            return;
        const auto status = m_service.calendar.status(account->id);
        HttpJson::reply(res, 200, { { u"connected"_s, status.connected }, { u"needsReauth"_s, status.needsReauth } });
    });
    router.get("/api/recall/upcoming-meetings",
        [this](const httplib::Request& req, httplib::Response& res) { upcomingMeetings(req, res); });
    router.get("/api/recall/settings", [this](const httplib::Request& req, httplib::Response& res) {
        if (const auto account = authorize(req, res))
            HttpJson::reply(res, 200,
                { { u"success"_s, true }, { u"autoJoinEnabled"_s, m_service.calendar.autoJoin(account->id) } });
    });
    router.post("/api/recall/meeting-bot-preference",
        [this](const httplib::Request& req, httplib::Response& res, const std::string& body) {
            botPreference(req, body, res);
        });
}

std::optional<Account> ApiRoutes::authorize(const httplib::Request& req, httplib::Response& res, const char* header)
{
    const std::string token = HttpJson::bearer(req, header);
    auto account = token.empty() ? std::nullopt : m_service.accounts.forToken(token);
    if (!account)
        HttpJson::error(res, 401, token.empty() ? "Missing bearer token" : "Unknown token");
    return account;
}

std::optional<ApiRoutes::Authorized> ApiRoutes::authorizeWithBody(
    const httplib::Request& req, const std::string& body, httplib::Response& res, const char* header)
{
    auto account = authorize(req, res, header);
    if (!account)
        return std::nullopt;
    auto object = HttpJson::objectBody(body, res);
    if (!object)
        return std::nullopt;
    return Authorized { std::move(*account), std::move(*object) };
}

void ApiRoutes::oneTimeCode(const std::string& body, httplib::Response& res)
{
    const auto request = HttpJson::objectBody(body, res);
    if (!request)
        return;
    const auto email = Accounts::normalizedEmail((*request)[u"email"_s]);
    if (!email)
        return HttpJson::error(res, 400, "\"email\" must be an e-mail address");
    const auto step = HttpJson::string(*request, u"step"_s);
    if (step == u"request"_s) {
        const auto code = m_service.accounts.requestCode(*email);
        if (!code)
            return HttpJson::error(res, 429, "Too many code requests for this address; try again later");
        Console::line("one-time code for " + *email + ": " + *code);
        return HttpJson::reply(res, 200, { { u"success"_s, true } });
    }
    if (step != u"verify"_s)
        return HttpJson::error(res, 400, "\"step\" must be \"request\" or \"verify\"");
    const auto code = HttpJson::string(*request, u"otpCode"_s);
    if (!code)
        return HttpJson::error(res, 400, "\"otpCode\" must be a string");
    const auto token = m_service.accounts.verifyCode(*email, code->toStdString());
    if (!token)
        return HttpJson::error(res, 401, "The code is wrong, expired or used up");
    HttpJson::reply(res, 200, { { u"token"_s, qs(*token) } });
}

void ApiRoutes::uploadToken(const httplib::Request& req, const std::string& body, httplib::Response& res)
{
    const auto authorized = authorizeWithBody(req, body, res, "x-auth-token");
    if (!authorized)
        return;
    const Account& account = authorized->account;
    const QJsonObject& fields = authorized->body;
    if (HttpJson::string(fields, u"type"_s) != u"blob.generate-client-token"_s)
        return HttpJson::error(res, 400, "\"type\" must be \"blob.generate-client-token\"");
    const QJsonObject payload = fields[u"payload"_s].toObject();
    const auto pathname = HttpJson::string(payload, u"pathname"_s);
    const QJsonValue clientPayload = payload[u"clientPayload"_s];
    if (!pathname || !HttpJson::string(payload, u"callbackUrl"_s) || !HttpJson::boolean(payload, u"multipart"_s)
        || !(clientPayload.isNull() || clientPayload.isString()))
        return HttpJson::error(res, 400,
            "\"payload\" needs \"pathname\", \"callbackUrl\" (string), \"multipart\" (boolean) and \"clientPayload\" "
            "(string or null)");
    if (*HttpJson::boolean(payload, u"multipart"_s))
        return HttpJson::error(res, 400, "Multipart uploads are not supported");
    if (!BlobStore::isValidPathname(pathname->toStdString()))
        return HttpJson::error(res, 400, "\"pathname\" must be recordings/<uuid>.<extension>");
    const std::string token = m_service.uploads.issueClientToken(account.id, pathname->toStdString());
    HttpJson::reply(res, 200, { { u"type"_s, u"blob.generate-client-token"_s }, { u"clientToken"_s, qs(token) } });
}

std::optional<std::string> ApiRoutes::blobPathname(const QString& url) const
{
    const QString prefix = qs(m_service.origin) + u"/blob/"_s;
    if (!url.startsWith(prefix))
        return std::nullopt;
    const std::string pathname = url.mid(prefix.size()).toStdString();
    return BlobStore::isValidPathname(pathname) ? std::optional(pathname) : std::nullopt;
}

void ApiRoutes::notify(const httplib::Request& req, const std::string& body, httplib::Response& res)
{
    const auto authorized = authorizeWithBody(req, body, res);
    if (!authorized)
        return;
    const Account& account = authorized->account;
    const QJsonObject& fields = authorized->body;
    bool ok = true;
    const auto micUrl = optionalString(fields, u"blob_url"_s, ok);
    const auto micFile = optionalString(fields, u"file_name"_s, ok);
    const auto systemUrl = optionalString(fields, u"blob_url_system"_s, ok);
    optionalString(fields, u"file_name_system"_s, ok);
    const QJsonValue duration = fields[u"duration_seconds"_s];
    ok = ok && (duration.isUndefined() || duration.isNull() || duration.isDouble());
    if (!ok || !micUrl || !micFile)
        return HttpJson::error(res, 400,
            "The body needs \"blob_url\" and \"file_name\" (strings); \"blob_url_system\", \"file_name_system\" and "
            "\"duration_seconds\" are optional");

    std::vector<std::string> pathnames;
    for (const auto& url : { micUrl, systemUrl }) {
        if (!url)
            continue;
        const auto pathname = blobPathname(*url);
        const auto blob = pathname ? m_service.uploads.blob(*pathname) : std::nullopt;
        if (!blob)
            return HttpJson::error(res, 400, "No blob was uploaded at " + url->toStdString());
        if (blob->accountId != account.id)
            return HttpJson::error(res, 403, "The blob at " + url->toStdString() + " belongs to another account");
        pathnames.push_back(*pathname);
    }
    const std::optional<std::string> systemBlob = pathnames.size() > 1 ? std::optional(pathnames[1]) : std::nullopt;
    const std::int64_t id = m_service.notes.createProcessing(account.id, pathnames[0], systemBlob);
    Console::line("recording received for " + account.email + ": note " + std::to_string(id) + " is processing");
    HttpJson::reply(res, 200, { { u"success"_s, true }, { u"noteId"_s, qint64(id) } });
}

void ApiRoutes::setActionItem(const httplib::Request& req, const std::string& body, httplib::Response& res)
{
    const auto authorized = authorizeWithBody(req, body, res);
    if (!authorized)
        return;
    const Account& account = authorized->account;
    const QJsonObject& fields = authorized->body;
    const auto done = HttpJson::boolean(fields, u"done"_s);
    if (!done)
        return HttpJson::error(res, 400, "\"done\" must be true or false");
    switch (m_service.notes.setActionItemDone(
        account.id, std::stoll(req.matches[1]), sourceParam(req), req.matches[2], *done)) {
    case Notes::Update::Stored:
        return HttpJson::reply(res, 200, { { u"success"_s, true } });
    case Notes::Update::NoNote:
        return HttpJson::error(res, 404, "No such note");
    case Notes::Update::NoItem:
        return HttpJson::error(res, 404, "No such action item");
    }
}

void ApiRoutes::upcomingMeetings(const httplib::Request& req, httplib::Response& res)
{
    const auto account = authorize(req, res);
    if (!account)
        return;
    if (!req.has_param("tarnwick_user_id"))
        return HttpJson::error(res, 400, "\"tarnwick_user_id\" is missing");
    if (req.get_param_value("tarnwick_user_id") != account->id)
        return HttpJson::error(res, 403, "\"tarnwick_user_id\" is not the signed-in user");
    int limit = 20;
    if (req.has_param("limit")) {
        const std::string text = req.get_param_value("limit");
        bool ok = false;
        limit = QString::fromStdString(text).toInt(&ok);
        if (!ok || limit < 1 || limit > 100)
            return HttpJson::error(res, 400, "\"limit\" must be a whole number from 1 to 100");
    }
    const auto status = m_service.calendar.status(account->id);
    if (status.needsReauth)
        return HttpJson::error(res, 401, "The calendar authorization has expired");
    const QJsonArray meetings = status.connected ? m_service.calendar.upcoming(account->id, limit) : QJsonArray();
    HttpJson::reply(res, 200, { { u"success"_s, true }, { u"meetings"_s, meetings } });
}

void ApiRoutes::botPreference(const httplib::Request& req, const std::string& body, httplib::Response& res)
{
    const auto authorized = authorizeWithBody(req, body, res);
    if (!authorized)
        return;
    const Account& account = authorized->account;
    const QJsonObject& fields = authorized->body;
    const auto eventId = HttpJson::string(fields, u"recall_calendar_event_id"_s);
    const auto enabled = HttpJson::boolean(fields, u"bot_enabled"_s);
    bool ok = HttpJson::string(fields, u"title"_s).has_value();
    for (const auto& key : { u"meeting_url"_s, u"start_time"_s, u"end_time"_s })
        optionalString(fields, key, ok);
    if (!eventId || !enabled || !ok)
        return HttpJson::error(res, 400,
            "The body needs \"recall_calendar_event_id\", \"bot_enabled\" and \"title\"; \"meeting_url\", "
            "\"start_time\" and \"end_time\" are optional strings");
    if (!m_service.calendar.setBotEnabled(account.id, eventId->toStdString(), *enabled))
        return HttpJson::error(res, 404, "No such calendar meeting");
    HttpJson::reply(res, 200, { { u"success"_s, true }, { u"signal"_s, *enabled ? u"scheduled"_s : u"cancelled"_s } });
}
