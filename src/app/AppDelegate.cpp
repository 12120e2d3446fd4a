#include "AppDelegate.h"

#include "APIClient.h"

#include <QQmlEngine>

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
{
    constructStores();
}

void AppDelegate::constructStores()
{
    // The order is fixed: session, recorder, meetings, actions, calendar,
    // meeting bot, detector. The widget controller comes once launching finished.
    APIClient::shared();
}

void AppDelegate::exposeTo(QQmlEngine &engine)
{
    // Our QML modules live in the resources under their URI path.
    engine.addImportPath(QStringLiteral("qrc:/"));
}

void AppDelegate::applicationDidFinishLaunching()
{
}

void AppDelegate::applicationWillTerminate()
{
}
