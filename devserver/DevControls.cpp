#include "DevControls.h"

#include "DemoData.h"
#include "HttpJson.h"
#include "Router.h"

#include <QJsonDocument>
#include <QString>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// A pattern matches its path exactly, or as a prefix when it ends in '*'.
bool pathMatches(const std::string& pattern, const std::string& path)
{
    if (!pattern.empty() && pattern.back() == '*')
        return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == path;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

const QString redactedMark = u"<redacted>"_s;

// A credential header as logged: its scheme ("Bearer") stays, the secret goes.
QString redactedCredential(const QString& value)
{
    const qsizetype space = value.indexOf(u' ');
    return space < 0 ? redactedMark : value.left(space + 1) + redactedMark;
}

// A JSON body as logged: the one-time code a sign-in sends is left out.
QString redactedBody(const QString& body)
{
    QJsonObject object = QJsonDocument::fromJson(body.toUtf8()).object();
    if (!object.contains(u"otpCode"_s))
        return body;
    object[u"otpCode"_s] = redactedMark;
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<qint64> integer(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object[key];
    if (!value.isDouble() || value.toDouble() != double(value.toInteger()))
        return std::nullopt;
    return value.toInteger();
}

}

bool DevControls::Fault::matches(const httplib::Request& req) const
{
    return pathMatches(path, req.path) && (!method || *method == req.method);
}

QJsonObject DevControls::Fault::toJson() const
{
    QJsonObject fault { { u"path"_s, qs(path) }, { u"status"_s, status }, { u"count"_s, remaining } };
    fault[u"method"_s] = method ? QJsonValue(qs(*method)) : QJsonValue();
    if (body) {
        fault[u"body"_s] = qs(*body);
        fault[u"contentType"_s] = qs(contentType);
    }
    return fault;
}

DevControls::DevControls(Service& service, bool logSecrets)
    : m_service(service)
    , m_logSecrets(logSecrets)
{
}

void DevControls::registerOn(Router& router)
{
    router.post("/__dev/faults",
        [this](const httplib::Request&, httplib::Response& res, const std::string& body) { addFault(body, res); });
    router.get("/__dev/faults", [this](const httplib::Request&, httplib::Response& res) {
        HttpJson::reply(res, 200, { { u"success"_s, true }, { u"faults"_s, faultList() } });
    });
    router.del("/__dev/faults", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(m_mutex);
        m_faults.clear();
        HttpJson::reply(res, 200, { { u"success"_s, true }, { u"faults"_s, QJsonArray() } });
    });

    router.post("/__dev/latency",
        [this](const httplib::Request&, httplib::Response& res, const std::string& body) { setLatency(body, res); });

    router.get("/__dev/requests", [this](const httplib::Request& req, httplib::Response& res) {
        const std::optional<std::string> path
            = req.has_param("path") ? std::optional(req.get_param_value("path")) : std::nullopt;
        QJsonArray list;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& entry : m_log)
                if (!path || pathMatches(*path, entry[u"path"_s].toString().toStdString()))
                    list.append(entry);
        }
        res.set_content(QJsonDocument(list).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    });
    router.del("/__dev/requests", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(m_mutex);
        m_log.clear();
        HttpJson::reply(res, 200, { { u"success"_s, true } });
    });

    router.get("/__dev/otp", [this](const httplib::Request& req, httplib::Response& res) {
        const auto email = Accounts::normalizedEmail(req.get_param_value("email"));
        const auto code = email ? m_service.accounts.lastCode(*email) : std::nullopt;
        if (!code)
            return HttpJson::error(res, 404, "No code was requested for this address");
        HttpJson::reply(res, 200, { { u"email"_s, qs(*email) }, { u"code"_s, qs(*code) } });
    });

    router.post("/__dev/token", [this](const httplib::Request&, httplib::Response& res, const std::string& body) {
        const auto request = HttpJson::objectBody(body, res);
        if (!request)
            return;
        const auto email = Accounts::normalizedEmail((*request)[u"email"_s]);
        if (!email)
            return HttpJson::error(res, 400, "\"email\" must be an e-mail address");
        const Account account = m_service.accounts.findOrCreate(*email);
        HttpJson::reply(res, 200,
            { { u"token"_s, qs(m_service.accounts.openSession(account.id)) }, { u"user"_s, account.toJson() } });
    });

    router.post("/__dev/calendar", [this](const httplib::Request&, httplib::Response& res, const std::string& body) {
        const auto request = HttpJson::objectBody(body, res);
        if (!request)
            return;
        const auto email = request->contains(u"email"_s) ? Accounts::normalizedEmail((*request)[u"email"_s])
                                                         : std::optional(DemoData::email);
        const auto account = email ? m_service.accounts.byEmail(*email) : std::nullopt;
        if (!account)
            return HttpJson::error(res, 404, "No account has this address");
        const auto connected = HttpJson::boolean(*request, u"connected"_s);
        const auto needsReauth = HttpJson::boolean(*request, u"needsReauth"_s);
        if ((request->contains(u"connected"_s) && !connected) || (request->contains(u"needsReauth"_s) && !needsReauth))
            return HttpJson::error(res, 400, "\"connected\" and \"needsReauth\" must be true or false");
        m_service.calendar.setStatus(account->id, connected, needsReauth);
        if (connected.value_or(false))
            DemoData::fillEmptyCalendar(m_service.calendar, account->id, m_service.store.nowMs());
        const auto status = m_service.calendar.status(account->id);
        HttpJson::reply(res, 200, { { u"connected"_s, status.connected }, { u"needsReauth"_s, status.needsReauth } });
    });

    router.post("/__dev/clock", [this](const httplib::Request&, httplib::Response& res, const std::string& body) {
        const auto request = HttpJson::objectBody(body, res);
        if (!request)
            return;
        const auto seconds = integer(*request, u"advanceSeconds"_s);
        if (!seconds || *seconds < 0 || *seconds > 10LL * 365 * 86400)
            return HttpJson::error(res, 400, "\"advanceSeconds\" must be a whole number of seconds, 0 or more");
        m_service.store.advanceClock(*seconds);
        HttpJson::reply(
            res, 200, { { u"success"_s, true }, { u"offsetSeconds"_s, qint64(m_service.store.clockOffsetSeconds()) } });
    });

    router.post("/__dev/process", [this](const httplib::Request&, httplib::Response& res, const std::string&) {
        QJsonArray ids;
        for (const auto id : m_service.processing.finishDue(true))
            ids.append(qint64(id));
        HttpJson::reply(res, 200, { { u"success"_s, true }, { u"finished"_s, ids } });
    });

    router.post("/__dev/reset", [this](const httplib::Request&, httplib::Response& res, const std::string&) {
        reset();
        HttpJson::reply(res, 200, { { u"success"_s, true } });
    });
}

void DevControls::reset()
{
    {
        std::lock_guard lock(m_mutex);
        m_faults.clear();
        m_latencyMs.clear();
        m_log.clear();
    }
    m_service.store.resetClock();
    m_service.store.wipe();
    m_service.blobs.removeAll();
    DemoData::seed(m_service.store, m_service.notes, m_service.calendar, m_service.store.nowMs());
}

bool DevControls::intercept(const httplib::Request& req, httplib::Response& res)
{
    if (const int ms = latencyFor(req.path); ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));

    std::lock_guard lock(m_mutex);
    const auto fault = std::find_if(m_faults.begin(), m_faults.end(), [&](const Fault& f) { return f.matches(req); });
    if (fault == m_faults.end())
        return false;
    res.status = fault->status;
    if (fault->body && !fault->body->empty()) {
        // Sent byte for byte: a body of fixed length from a provider is never compressed, so the client reads
        // exactly these bytes, and megabytes of text cost no compression time.
        auto body = std::make_shared<const std::string>(*fault->body);
        res.set_content_provider(
            body->size(), fault->contentType, [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return sink.write(body->data() + offset, std::min(length, body->size() - offset));
            });
    } else if (fault->body) {
        res.set_content(std::string(), fault->contentType);
    } else
        HttpJson::error(res, fault->status, "Injected failure");
    if (fault->remaining > 0 && --fault->remaining == 0)
        m_faults.erase(fault);
    return true;
}

void DevControls::record(const httplib::Request& req, const httplib::Response& res)
{
    const Router::NotedBody body = Router::takeNotedBody();
    if (req.path.rfind("/__dev/", 0) == 0)
        return;
    QJsonObject headers;
    for (const auto& [name, value] : req.headers) {
        // The HTTP library files the peer's addresses among the headers; they were not sent.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        const QString key = qs(lower(name));
        const bool secret = !m_logSecrets && (key == u"authorization"_s || key == u"x-auth-token"_s);
        const QString logged = secret ? redactedCredential(qs(value)) : qs(value);
        headers[key] = headers.contains(key) ? headers[key].toString() + u", "_s + logged : logged;
    }
    QJsonObject params;
    for (const auto& [name, value] : req.params)
        params[qs(name)] = qs(value);
    const auto question = req.target.find('?');
    const QString text = body.bytes ? QString::fromUtf8(body.text.data(), qsizetype(body.text.size())) : qs(req.body);
    const QJsonObject entry {
        { u"method"_s, qs(req.method) },
        { u"path"_s, qs(req.path) },
        { u"query"_s, question == std::string::npos ? QString() : qs(req.target.substr(question + 1)) },
        { u"params"_s, params },
        { u"headers"_s, headers },
        { u"body"_s, m_logSecrets ? text : redactedBody(text) },
        { u"bodyBytes"_s, qint64(body.bytes ? body.bytes : req.body.size()) },
        { u"status"_s, res.status },
    };
    std::lock_guard lock(m_mutex);
    m_log.push_back(entry);
    if (m_log.size() > logLimit)
        m_log.pop_front();
}

void DevControls::addFault(const std::string& body, httplib::Response& res)
{
    const auto request = HttpJson::objectBody(body, res);
    if (!request)
        return;
    Fault fault;
    const auto path = HttpJson::string(*request, u"path"_s);
    const auto status = integer(*request, u"status"_s);
    const auto count = request->contains(u"count"_s) ? integer(*request, u"count"_s) : std::optional<qint64>(1);
    if (!path || !path->startsWith(u'/') || !status || *status < 100 || *status > 599 || !count
        || (*count < 1 && *count != -1))
        return HttpJson::error(res, 400,
            "A fault needs \"path\" (starting with /), \"status\" (100 to 599) and optionally \"count\" (1 or more, "
            "or -1 for always), \"method\", \"body\" and \"contentType\"");
    fault.path = path->toStdString();
    fault.status = int(*status);
    fault.remaining = int(std::min<qint64>(*count, 1000000));
    if (const auto method = HttpJson::string(*request, u"method"_s))
        fault.method = upper(method->toStdString());
    if (const auto text = HttpJson::string(*request, u"body"_s))
        fault.body = text->toStdString();
    fault.contentType = HttpJson::string(*request, u"contentType"_s).value_or(u"application/json"_s).toStdString();

    {
        std::lock_guard lock(m_mutex);
        m_faults.push_back(std::move(fault));
    }
    HttpJson::reply(res, 200, { { u"success"_s, true }, { u"faults"_s, faultList() } });
}

QJsonArray DevControls::faultList() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray list;
    for (const auto& fault : m_faults)
        list.append(fault.toJson());
    return list;
}

void DevControls::setLatency(const std::string& body, httplib::Response& res)
{
    const auto request = HttpJson::objectBody(body, res);
    if (!request)
        return;
    const auto ms = integer(*request, u"ms"_s);
    const QJsonValue path = (*request)[u"path"_s];
    if (!ms || *ms < 0 || *ms > 60000 || !(path.isUndefined() || path.isNull() || path.toString().startsWith(u'/')))
        return HttpJson::error(res, 400, "Latency needs \"ms\" (0 to 60000) and optionally \"path\" (starting with /)");
    {
        std::lock_guard lock(m_mutex);
        const std::string key = path.toString().toStdString();
        if (*ms == 0)
            m_latencyMs.erase(key);
        else
            m_latencyMs[key] = int(*ms);
    }
    HttpJson::reply(res, 200, { { u"success"_s, true }, { u"latency"_s, latencyList() } });
}

QJsonArray DevControls::latencyList() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray list;
    for (const auto& [path, ms] : m_latencyMs)
        list.append(QJsonObject { { u"path"_s, path.empty() ? QJsonValue() : QJsonValue(qs(path)) }, { u"ms"_s, ms } });
    return list;
}

int DevControls::latencyFor(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    // A rule for the path wins over the rule for every path.
    for (const auto& [pattern, ms] : m_latencyMs)
        if (!pattern.empty() && pathMatches(pattern, path))
            return ms;
    const auto every = m_latencyMs.find(std::string());
    return every == m_latencyMs.end() ? 0 : every->second;
}
