#pragma once

#include "APIClient.h"
#include "AppWindow.h"
#include "Await.h"
#include "DateText.h"
#include "DevServerProcess.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "ScreenDriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The demo account signed in against the local service, so the real client
// window opens on it: the fixture of the screen tests.
class DemoSession : public KeyringTest {
protected:
    void SetUp() override
    {
        KeyringTest::SetUp();
        DateText::setLocale("en_US");
        ASSERT_TRUE(service.isRunning());
        Endpoints::setServiceOrigin(service.origin());
        token = service.signIn();
        ASSERT_FALSE(token.isEmpty());
        KeychainService::saveToken(token);
    }
    void TearDown() override
    {
        APIClient::shared().network().clearConnectionCache();
        KeyringTest::TearDown();
    }

    // The JSON bodies of those requests, in order.
    QList<QJsonObject> bodiesTo(const QString& path)
    {
        QList<QJsonObject> bodies;
        for (const QJsonValue& r : service.requests(path))
            bodies << QJsonDocument::fromJson(r[QStringLiteral("body")].toString().toUtf8()).object();
        return bodies;
    }
    // The next `count` requests to `path` (and `method`) are answered with `status` and `body`; -1: all of them.
    void fault(const QString& path, int status, const QString& method = {}, const QByteArray& body = {}, int count = 1)
    {
        QJsonObject rule { { QStringLiteral("path"), path }, { QStringLiteral("status"), status },
            { QStringLiteral("count"), count } };
        if (!method.isEmpty())
            rule[QStringLiteral("method")] = method;
        if (!body.isEmpty())
            rule[QStringLiteral("body")] = QString::fromUtf8(body);
        service.control("POST", "/__dev/faults", rule);
    }
    // Requests to `path` wait `ms` at the service before their answer; 0 ends the delay.
    void delay(const QString& path, int ms)
    {
        service.control("POST", "/__dev/latency", { { QStringLiteral("ms"), ms }, { QStringLiteral("path"), path } });
    }
    // The window signed in on its main view.
    void openWindow(AppWindow& app)
    {
        ASSERT_TRUE(app.window);
        ASSERT_TRUE(waitUntil([&] { return app.onMainAppView(); }));
    }

    DevServerProcess service;
    QString token;
};
