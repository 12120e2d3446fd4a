#include "SerialQueue.h"

SerialQueue::SerialQueue(const QString& label, QThread::Priority priority)
    : m_label(label)
    , m_thread(std::make_unique<QThread>())
    , m_context(std::make_unique<QObject>())
{
    m_thread->setObjectName(label);
    m_context->moveToThread(m_thread.get());
    m_thread->start(priority);
}

SerialQueue::~SerialQueue()
{
    Q_ASSERT(!isCurrent());
    QThread* thread = m_thread.get();
    post([thread] { thread->quit(); });
    m_thread->wait();
    m_context.reset();
}

void SerialQueue::sync(const std::function<void()>& work)
{
    Q_ASSERT(!isCurrent());
    QMetaObject::invokeMethod(m_context.get(), work, Qt::BlockingQueuedConnection);
}
