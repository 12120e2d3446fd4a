#pragma once

#include "Service.h"

#include <httplib.h>

#include <optional>

class Router;

// The JSON endpoints the client calls: sign-in, the user, the upload token
// and notification, notes, action items, calendar and meeting bot.
class ApiRoutes {
public:
    explicit ApiRoutes(Service& service);

    void registerOn(Router& router);

private:
    // The account of the request's bearer token; otherwise a 401 reply has been written.
    std::optional<Account> authorize(
        const httplib::Request& req, httplib::Response& res, const char* header = "Authorization");
    // The account and the JSON object body; otherwise a 401 or 400 reply has been written.
    struct Authorized {
        Account account;
        QJsonObject body;
    };
    std::optional<Authorized> authorizeWithBody(const httplib::Request& req, const std::string& body,
        httplib::Response& res, const char* header = "Authorization");

    void oneTimeCode(const std::string& body, httplib::Response& res);
    void uploadToken(const httplib::Request& req, const std::string& body, httplib::Response& res);
    void notify(const httplib::Request& req, const std::string& body, httplib::Response& res);
    void setActionItem(const httplib::Request& req, const std::string& body, httplib::Response& res);
    void upcomingMeetings(const httplib::Request& req, httplib::Response& res);
    void botPreference(const httplib::Request& req, const std::string& body, httplib::Response& res);

    // The path name of a blob address this service gave out; nothing for any other address.
    std::optional<std::string> blobPathname(const QString& url) const;

    Service& m_service;
};
