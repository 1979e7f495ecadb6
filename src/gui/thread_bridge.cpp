#include "gui/thread_bridge.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <utility>

namespace quorvel::gui {

struct ThreadBridge::Completion::Ticket {
    ThreadBridge* owner = nullptr;
    // One wake-up per waiter: thousands of items may wait at once, and each
    // ending call must wake only its own.
    std::condition_variable changed;
    bool done = false;       // guarded by the owner's mutex
    bool abandoned = false;  // the waiter left: its call must not start any more
};

void ThreadBridge::Completion::Done() const {
    if (!m_ticket) {
        return;
    }
    ThreadBridge* owner = m_ticket->owner;
    {
        std::lock_guard lock(owner->m_mutex);
        m_ticket->done = true;
    }
    m_ticket->changed.notify_one();
}

ThreadBridge& ThreadBridge::Instance() {
    // A child of the application, so it goes with it; every worker has been
    // joined by then.
    static QPointer<ThreadBridge> dispatcher;
    static std::mutex made;
    std::lock_guard lock(made);
    if (!dispatcher) {
        auto* d = new ThreadBridge();
        if (QCoreApplication::instance() != nullptr) {
            d->moveToThread(QCoreApplication::instance()->thread());
            d->setParent(QCoreApplication::instance());
        }
        dispatcher = d;
    }
    return *dispatcher;
}

bool ThreadBridge::Await(const std::function<void(Completion)>& start) {
    auto ticket = std::make_shared<Completion::Ticket>();
    ticket->owner = this;
    if (QThread::currentThread() == thread()) {
        if (Closed()) {
            return false;
        }
        start(Completion(ticket));
        return true;
    }
    // start may refer to the waiter's data: it runs only while the waiter
    // still waits, never after it was released. Calls queue up, and one
    // posted event runs every call queued by then: a thousand items
    // reporting at once cost the user-interface thread one wake-up.
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return false;
        }
        m_waiting.insert(ticket);
        m_pending.push_back({ticket, start});
        post = !std::exchange(m_posted, true);
    }
    if (post) {
        QMetaObject::invokeMethod(
            this, [this] { RunPending(); }, Qt::QueuedConnection);
    }
    std::unique_lock lock(m_mutex);
    ticket->changed.wait(lock, [&] { return ticket->done || m_closed; });
    ticket->abandoned = true;
    m_waiting.erase(ticket);
    return ticket->done;
}

void ThreadBridge::RunPending() {
    // Only the calls queued by now: later ones wait for the next event, so
    // a steady stream of calls never keeps the window from painting.
    std::size_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        m_posted = false;
        count = m_pending.size();
    }
    for (; count > 0; --count) {
        Pending call;
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                return;
            }
            call = std::move(m_pending.front());
            m_pending.pop_front();
            if (call.ticket->abandoned || m_closed) {
                continue;
            }
            // A call may open a window and wait in an event loop of its own:
            // the calls after it then run from there.
            post = !m_pending.empty() && !std::exchange(m_posted, true);
        }
        if (post) {
            QMetaObject::invokeMethod(
                this, [this] { RunPending(); }, Qt::QueuedConnection);
        }
        call.start(Completion(call.ticket));
    }
}

bool ThreadBridge::Call(const std::function<void()>& f) {
    return Await([&f](Completion done) {
        f();
        done.Done();
    });
}

bool ThreadBridge::Post(std::function<void()> f) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return false;
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, f = std::move(f)] {
            if (!Closed()) {
                f();
            }
        },
        Qt::QueuedConnection);
    return true;
}

void ThreadBridge::Close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_pending.clear();
    for (const auto& ticket : m_waiting) {
        ticket->abandoned = true;
        ticket->changed.notify_one();
    }
}

void ThreadBridge::Reopen() {
    std::lock_guard lock(m_mutex);
    m_closed = false;
}

std::size_t ThreadBridge::Queued() const {
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

bool ThreadBridge::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

}  // namespace quorvel::gui
