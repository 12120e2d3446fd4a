#pragma once

#include "AppDelegate.h"
#include "ScreenDriver.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

// The real client in a test: its delegate with every store, and the main
// window loaded and shown, as at launch.
class AppWindow {
public:
    AppWindow();

    [[nodiscard]] QQuickItem* root() const { return window->contentItem(); }
    [[nodiscard]] bool onAuthView() const { return showsOnly("AuthView", "MainAppView"); }
    [[nodiscard]] bool onMainAppView() const { return showsOnly("MainAppView", "AuthView"); }
    // The item of the selected navigation item's screen.
    [[nodiscard]] QQuickItem* detailColumn() const
    {
        return ScreenDriver::byObjectName(root(), QStringLiteral("detailColumn"));
    }

    AppDelegate delegate;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;

private:
    [[nodiscard]] bool showsOnly(const char* view, const char* other) const
    {
        return ScreenDriver::shows(root(), view) && !ScreenDriver::shows(root(), other);
    }
};
