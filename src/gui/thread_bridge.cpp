#include "gui/thread_bridge.h"

#include <QCoreApplication>
#include <QThread>

namespace quorvel::gui {

struct ThreadBridge::Completion::Ticket {
    ThreadBridge* owner = nullptr;
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
    owner->m_changed.notify_all();
}

ThreadBridge& ThreadBridge::Instance() {
    // Never destroyed: workers may still ask while the program ends.
    static auto* dispatcher = [] {
        auto* d = new ThreadBridge();
        if (QCoreApplication::instance() != nullptr) {
            d->moveToThread(QCoreApplication::instance()->thread());
        }
        return d;
    }();
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
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return false;
        }
        m_waiting.insert(ticket);
    }
    // start may refer to the waiter's data: it runs only while the waiter
    // still waits, never after it was released.
    QMetaObject::invokeMethod(
        this,
        [this, ticket, start] {
            {
                std::lock_guard lock(m_mutex);
                if (ticket->abandoned || m_closed) {
                    return;
                }
            }
            start(Completion(ticket));
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return ticket->done || m_closed; });
    ticket->abandoned = true;
    m_waiting.erase(ticket);
    return ticket->done;
}

bool ThreadBridge::Call(const std::function<void()>& f) {
    return Await([&f](Completion done) {
        f();
        done.Done();
    });
}

void ThreadBridge::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        for (const auto& ticket : m_waiting) {
            ticket->abandoned = true;
        }
    }
    m_changed.notify_all();
}

void ThreadBridge::Reopen() {
    std::lock_guard lock(m_mutex);
    m_closed = false;
}

bool ThreadBridge::Closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

}  // namespace quorvel::gui
