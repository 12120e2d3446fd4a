#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

// A thread that runs posted work items one at a time, in the order they were
// posted. Capture callbacks post here and never wait.
class SerialQueue {
public:
    explicit SerialQueue(const QString& label, QThread::Priority priority = QThread::InheritPriority);
    // Runs what was posted before, then stops the thread. Not from the queue itself.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    [[nodiscard]] QString label() const { return m_label; }
    [[nodiscard]] bool isCurrent() const { return QThread::currentThread() == m_thread.get(); }

    template <class Work> void post(Work&& work)
    {
        QMetaObject::invokeMethod(m_context.get(), std::forward<Work>(work), Qt::QueuedConnection);
    }

    // Runs `work` after everything posted before it and waits for it to finish.
    // Must not be called from the queue itself.
    void sync(const std::function<void()>& work);

private:
    QString m_label;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QObject> m_context;
};
