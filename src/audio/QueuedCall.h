#pragma once

#include <QObject>

#include <functional>

// The one way capture results reach the main thread: calls `handler` with `args` on `context`'s thread,
// as the handler is set by then (none: nothing), and never once `context` is gone.
template <class... Params, class... Args>
void callQueued(QObject& context, const std::function<void(Params...)>& handler, Args... args)
{
    QMetaObject::invokeMethod(
        &context,
        [&handler, args...] {
            if (handler)
                handler(args...);
        },
        Qt::QueuedConnection);
}
