#pragma once

#include "CapturedAudioBuffer.h"

#include <functional>
#include <memory>
#include <mutex>

class SerialQueue;

// Where a capture service's buffers go: one work item per buffer on the
// owner's write queue. Work items hold the outlet weakly, so a buffer still
// queued when its service is gone is dropped.
class BufferOutlet : public std::enable_shared_from_this<BufferOutlet> {
public:
    using Handler = std::function<void(const CapturedAudioBuffer&)>;

    explicit BufferOutlet(SerialQueue& queue);

    void setHandler(Handler handler);
    // Called on the capture thread: one submission, never waits for the queue.
    void post(CapturedAudioBuffer buffer);

private:
    void deliver(const CapturedAudioBuffer& buffer);

    SerialQueue& m_queue;
    std::mutex m_mutex;
    std::shared_ptr<const Handler> m_handler;
};
