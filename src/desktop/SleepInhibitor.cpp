#include "SleepInhibitor.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString reason = u"Recording a meeting"_s;

QString nameOf(SleepInhibitor::Road road)
{
    switch (road) {
    case SleepInhibitor::Road::logind:
        return u"logind"_s;
    case SleepInhibitor::Road::portal:
        return u"the desktop portal"_s;
    case SleepInhibitor::Road::screenSaver:
        return u"the screen saver"_s;
    case SleepInhibitor::Road::none:
        break;
    }
    return u"nothing"_s;
}

QDBusMessage callFor(SleepInhibitor::Road road)
{
    switch (road) {
    case SleepInhibitor::Road::logind: {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
            u"org.freedesktop.login1.Manager"_s, u"Inhibit"_s);
        return call << u"sleep:idle"_s << u"Echoquill"_s << reason << u"block"_s;
    }
    case SleepInhibitor::Road::portal: {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s,
            u"/org/freedesktop/portal/desktop"_s, u"org.freedesktop.portal.Inhibit"_s, u"Inhibit"_s);
        constexpr uint suspend = 4, idle = 8;
        return call << QString() << (suspend | idle) << QVariantMap { { u"reason"_s, reason } };
    }
    case SleepInhibitor::Road::screenSaver: {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.ScreenSaver"_s,
            u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s, u"Inhibit"_s);
        return call << u"Echoquill"_s << reason;
    }
    case SleepInhibitor::Road::none:
        break;
    }
    return {};
}

// A hold answers at once or not at all.
constexpr int callTimeoutMs = 5000;

}

SleepInhibitor::SleepInhibitor(QObject* parent)
    : QObject(parent)
{
}

SleepInhibitor::~SleepInhibitor()
{
    letGo();
}

void SleepInhibitor::hold()
{
    m_wanted = true;
    if (m_road == Road::none && !m_asking)
        tryRoad(Road::logind);
}

void SleepInhibitor::release()
{
    m_wanted = false;
    letGo();
}

void SleepInhibitor::tryRoad(Road road)
{
    if (road == Road::none) {
        Log::line(u"[SleepInhibitor] Nothing answered; the computer may sleep during the recording"_s);
        return;
    }
    const Road next = Road(int(road) + 1 > int(Road::screenSaver) ? 0 : int(road) + 1);
    QDBusConnection bus = road == Road::logind ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        tryRoad(next);
        return;
    }
    m_asking = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(callFor(road), callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, road, next](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_asking = false;
        const QDBusMessage answer = w->reply();
        if (answer.type() == QDBusMessage::ErrorMessage || answer.arguments().isEmpty()) {
            if (m_wanted)
                tryRoad(next);
            return;
        }
        const QVariant value = answer.arguments().constFirst();
        if (road == Road::logind)
            m_lock = qvariant_cast<QDBusUnixFileDescriptor>(value);
        else if (road == Road::portal)
            m_request = qvariant_cast<QDBusObjectPath>(value).path();
        else
            m_cookie = value.toUInt();
        held(road);
        if (!m_wanted)
            letGo();
    });
}

void SleepInhibitor::held(Road road)
{
    m_road = road;
    Log::line(u"[SleepInhibitor] Holding off sleep through %1"_s.arg(nameOf(road)));
}

void SleepInhibitor::letGo()
{
    if (m_road == Road::none)
        return;
    if (m_road == Road::portal) {
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            u"org.freedesktop.portal.Desktop"_s, m_request, u"org.freedesktop.portal.Request"_s, u"Close"_s));
    } else if (m_road == Road::screenSaver) {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.ScreenSaver"_s,
            u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s, u"UnInhibit"_s);
        QDBusConnection::sessionBus().asyncCall(call << m_cookie);
    }
    m_lock = {}; // logind's lock ends with its last descriptor
    Log::line(u"[SleepInhibitor] Let go of %1"_s.arg(nameOf(m_road)));
    m_road = Road::none;
}
