#pragma once

#include "AppDelegate.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

// The real client in a test: its delegate with every store, and the main
// window loaded and shown, as at launch.
class AppWindow {
public:
    AppWindow();

    [[nodiscard]] QQuickItem *root() const { return window->contentItem(); }
    [[nodiscard]] bool onAuthView() const;
    [[nodiscard]] bool onMainAppView() const;
    // The item of the selected navigation item's screen.
    [[nodiscard]] QQuickItem *detailColumn() const;

    AppDelegate delegate;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
};
