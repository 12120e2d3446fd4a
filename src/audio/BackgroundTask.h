#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

// Runs `work` on `pool` while the awaiting coroutine's thread stays free; the
// coroutine resumes on its own thread with the result, or with the work's
// exception rethrown there.
template <class Work, class Result = std::invoke_result_t<Work&>>
QCoro::Task<Result> runInBackground(QThreadPool& pool, Work work)
{
    auto error = std::make_shared<std::exception_ptr>();
    if constexpr (std::is_void_v<Result>) {
        QFuture<void> done = QtConcurrent::run(&pool, [work = std::move(work), error]() mutable {
            try {
                work();
            } catch (...) {
                *error = std::current_exception();
            }
        });
        co_await done;
        if (*error)
            std::rethrow_exception(*error);
    } else {
        QFuture<std::optional<Result>> done
            = QtConcurrent::run(&pool, [work = std::move(work), error]() mutable -> std::optional<Result> {
                  try {
                      return work();
                  } catch (...) {
                      *error = std::current_exception();
                      return std::nullopt;
                  }
              });
        std::optional<Result> value = co_await done;
        if (*error)
            std::rethrow_exception(*error);
        co_return std::move(*value);
    }
}
