#include "HttpJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace HttpJson {

void reply(httplib::Response& res, int status, const QJsonObject& body)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void error(httplib::Response& res, int status, const std::string& message)
{
    reply(res, status, { { u"success"_s, false }, { u"error"_s, QString::fromStdString(message) } });
}

std::optional<QJsonObject> objectBody(const std::string& body, httplib::Response& res)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error(res, 400,
            "Malformed JSON: " + parseError.errorString().toStdString() + " at offset "
                + std::to_string(parseError.offset));
        return std::nullopt;
    }
    if (!document.isObject()) {
        error(res, 400, "The body must be a JSON object");
        return std::nullopt;
    }
    return document.object();
}

std::string bearer(const httplib::Request& req, const char* header)
{
    const std::string value = req.get_header_value(header);
    constexpr std::string_view prefix = "Bearer ";
    if (value.size() <= prefix.size() || value.compare(0, prefix.size(), prefix) != 0)
        return {};
    return value.substr(prefix.size());
}

std::string htmlEscape(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::optional<QString> string(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object[key];
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<bool> boolean(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object[key];
    return value.isBool() ? std::optional(value.toBool()) : std::nullopt;
}

}
