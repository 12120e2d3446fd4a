#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace detail {

template <class T, class Value>
QCoro::Task<> settle(QCoro::Task<T> task, Value& value, std::exception_ptr& error, bool& done)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            value.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

}

// Runs the event loop until `task` finishes; hands back its value or rethrows its error.
template <class T> T await(QCoro::Task<T>&& task)
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    bool done = false;
    auto runner = detail::settle(std::move(task), value, error, done);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

// Runs the event loop until `condition` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
