#include "UserActivity.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJSEngine>

UserActivity::UserActivity()
{
    m_rest.setSingleShot(true);
    connect(&m_rest, &QTimer::timeout, this, &UserActivity::checkRest);
    QCoreApplication::instance()->installEventFilter(this);
}

UserActivity* UserActivity::instance()
{
    static UserActivity* activity = new UserActivity;
    return activity;
}

UserActivity* UserActivity::create(QQmlEngine*, QJSEngine*)
{
    QJSEngine::setObjectOwnership(instance(), QJSEngine::CppOwnership);
    return instance();
}

bool UserActivity::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        // Input from the window system only: Qt Quick sends its own pointer events after frames.
        if (!event->spontaneous() || !watched->isWindowType())
            break;
        m_sinceInput.start();
        if (!m_rest.isActive())
            m_rest.start(m_restAfter);
        if (!m_recent) {
            m_recent = true;
            emit recentChanged();
        }
        break;
    default:
        break;
    }
    return false;
}

// The timer runs from the first input of a burst; later input moves the rest further out.
void UserActivity::checkRest()
{
    const auto since = std::chrono::milliseconds(m_sinceInput.elapsed());
    if (since < m_restAfter) {
        m_rest.start(m_restAfter - since);
        return;
    }
    m_recent = false;
    emit recentChanged();
}
