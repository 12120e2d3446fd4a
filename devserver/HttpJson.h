#pragma once

#include <httplib.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <string>

// Small pieces every route uses: JSON replies, JSON bodies, tokens from headers.
namespace HttpJson {

void reply(httplib::Response& res, int status, const QJsonObject& body);
// {"success": false, "error": message}
void error(httplib::Response& res, int status, const std::string& message);
// The body as a JSON object; otherwise a 400 reply has been written and nothing comes back.
std::optional<QJsonObject> objectBody(const std::string& body, httplib::Response& res);
// The token of a "Bearer <token>" header value; empty when the header is missing or differently shaped.
std::string bearer(const httplib::Request& req, const char* header = "Authorization");
// `text` with the five HTML special characters escaped.
std::string htmlEscape(const std::string& text);

// Reading typed members: nothing when absent or of another type.
std::optional<QString> string(const QJsonObject& object, const QString& key);
std::optional<bool> boolean(const QJsonObject& object, const QString& key);

}
