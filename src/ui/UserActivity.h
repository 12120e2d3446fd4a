#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// Whether the user has used one of the client's windows lately: moved the
// pointer over it, clicked, scrolled or typed. Decorations that move without
// end move only then: each of their frames redraws the whole window, most of a
// core where OpenGL runs on the CPU, and a window nobody is using need not move.
class UserActivity : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool recent READ recent NOTIFY recentChanged)

public:
    // One instance for the process, watching every window's input.
    static UserActivity* instance();
    static UserActivity* create(QQmlEngine*, QJSEngine*);

    [[nodiscard]] bool recent() const { return m_recent; }
    // How long after the last input the decorations come to rest (10 s).
    void setRestAfter(std::chrono::milliseconds wait) { m_restAfter = wait; }

signals:
    void recentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UserActivity();
    void checkRest();

    bool m_recent = false;
    std::chrono::milliseconds m_restAfter { 10000 };
    QElapsedTimer m_sinceInput;
    QTimer m_rest;
};
