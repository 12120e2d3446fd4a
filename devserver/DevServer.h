#pragma once

#include "Accounts.h"
#include "ApiRoutes.h"
#include "BlobRoutes.h"
#include "BlobStore.h"
#include "Calendar.h"
#include "DevControls.h"
#include "Notes.h"
#include "PageRoutes.h"
#include "Processing.h"
#include "Router.h"
#include "ServerOptions.h"
#include "Service.h"
#include "Store.h"
#include "Uploads.h"

#include <httplib.h>

#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>

// The whole local service: its state, its routes and the HTTP server on 127.0.0.1.
class DevServer {
public:
    explicit DevServer(const ServerOptions& options);
    ~DevServer();

    // Binds the port (a free one for port 0); the bound port, or -1.
    int bind();
    [[nodiscard]] const std::string& origin() const { return m_service.origin; }
    // Serves until stop() is called from another thread.
    void run();
    [[nodiscard]] bool isRunning() const;
    void stop();

private:
    std::string blobRoot();

    ServerOptions m_options;
    std::optional<QTemporaryDir> m_scratch; // the blobs of an ephemeral run
    Store m_store;
    Accounts m_accounts;
    Uploads m_uploads;
    Notes m_notes;
    Calendar m_calendar;
    BlobStore m_blobs;
    Processing m_processing;
    Service m_service;
    httplib::Server m_http;
    std::unique_ptr<DevControls> m_controls;
    Router m_router;
    ApiRoutes m_api;
    BlobRoutes m_blobRoutes;
    PageRoutes m_pages;
};
