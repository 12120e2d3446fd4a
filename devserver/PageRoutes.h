#pragma once

#include "Service.h"

#include <httplib.h>

class Router;

// The two pages opened in a browser: the sign-in page that stands in for
// Google and ends at an echoquill: address, and the calendar connection.
class PageRoutes {
public:
    explicit PageRoutes(Service& service);

    void registerOn(Router& router);

private:
    void signIn(const std::string& body, httplib::Response& res);
    void connectCalendar(const std::string& body, httplib::Response& res);

    Service& m_service;
};
