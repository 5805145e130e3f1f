#pragma once

#include "standin.h"

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

// What a task gave, waiting for it on the event loop (up to the time-out, scaled); nothing
// when it did not finish in time.
template <typename T> std::optional<T> awaited(QCoro::Task<T> task, int timeoutMs = 10000) {
    // Shared with the waiter: a task that finishes after the time-out writes nowhere harmful.
    auto out = std::make_shared<std::optional<T>>();
    auto waiter = [](QCoro::Task<T> task, std::shared_ptr<std::optional<T>> out) -> QCoro::Task<> {
        *out = co_await task;
    }(std::move(task), out);
    runUntil([&] { return out->has_value(); }, timeoutMs);
    return *out;
}
