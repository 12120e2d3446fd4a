#include "BufferOutlet.h"

#include "SerialQueue.h"

BufferOutlet::BufferOutlet(SerialQueue& queue)
    : m_queue(queue)
{
}

void BufferOutlet::setHandler(Handler handler)
{
    auto shared = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
    std::lock_guard lock(m_mutex);
    m_handler = std::move(shared);
}

void BufferOutlet::post(CapturedAudioBuffer buffer)
{
    m_queue.post([outlet = weak_from_this(), buffer = std::move(buffer)] {
        if (auto strong = outlet.lock())
            strong->deliver(buffer);
    });
}

void BufferOutlet::deliver(const CapturedAudioBuffer& buffer)
{
    std::shared_ptr<const Handler> handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_handler;
    }
    if (handler)
        (*handler)(buffer);
}
