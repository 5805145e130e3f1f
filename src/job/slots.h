#pragma once

#include "web/requestscope.h"

#include <QList>
#include <QPointer>
#include <QTimer>

#include <functional>

#include <qcoro/qcorotask.h>

// Slots for work of one kind, such as the requests to one host: at most `capacity` held at once.
// Those that wait for one get it in the order they asked, save those that asked to go first.
class Slots final {
public:
    // Where a waiter joins the line: at its end, or at its head for work that makes more work
    // (a listing page, whose rows then keep the host busy).
    enum class Place { Last, First };

    explicit Slots(int capacity)
        : m_free(capacity) {}

    // True once the caller holds a slot; false when the scope was aborted first.
    QCoro::Task<bool> take(RequestScope &scope, Place place = Place::Last) {
        if (m_free > 0) {
            --m_free;
            co_return true;
        }
        co_return co_await RequestScope::Wait(
            &scope, [this, place](QObject *guard, const std::function<void()> &resume) {
                enqueue(place, guard, resume);
            });
    }

    // The holder is done: the first waiter still waiting takes its slot over.
    void give() {
        while (!m_waiting.isEmpty() && !m_waiting.first().guard)
            m_waiting.removeFirst();
        if (m_waiting.isEmpty()) {
            ++m_free;
            return;
        }
        const Waiter next = m_waiting.takeFirst();
        // On the next turn, so that a run of rows that end at once does not nest.
        QTimer::singleShot(0, next.guard, next.resume);
    }

private:
    struct Waiter {
        QPointer<QObject> guard; // gone when the wait ended another way
        std::function<void()> resume;
    };
    void enqueue(Place place, QObject *guard, const std::function<void()> &resume) {
        m_waiting.insert(place == Place::First ? 0 : m_waiting.size(), Waiter{guard, resume});
    }
    int m_free;
    QList<Waiter> m_waiting;
};
