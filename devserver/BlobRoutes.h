#pragma once

#include "Service.h"

#include <httplib.h>

#include <cstdint>

class Router;

// The blob store: PUT with a client token for exactly that path name, the
// body streamed to disk and checked against its declared length; GET returns it.
class BlobRoutes {
public:
    BlobRoutes(Service& service, std::uint64_t limitBytes);

    void registerOn(Router& router);

private:
    void put(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
    void get(const httplib::Request& req, httplib::Response& res);

    Service& m_service;
    std::uint64_t m_limitBytes;
};
