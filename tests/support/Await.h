#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <exception>
#include <functional>
#include <optional>

namespace detail {

template <class T>
QCoro::Task<> settle(QCoro::Task<T> task, std::optional<T>& value, std::exception_ptr& error, bool& done)
{
    try {
        value.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline QCoro::Task<> settle(QCoro::Task<> task, std::exception_ptr& error, bool& done)
{
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline void spinUntil(const bool& done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

}

// Runs the event loop until `task` finishes; hands back its value or rethrows its error.
template <class T> T await(QCoro::Task<T>&& task)
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    auto runner = detail::settle(std::move(task), value, error, done);
    detail::spinUntil(done);
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void await(QCoro::Task<>&& task)
{
    std::exception_ptr error;
    bool done = false;
    auto runner = detail::settle(std::move(task), error, done);
    detail::spinUntil(done);
    if (error)
        std::rethrow_exception(error);
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
