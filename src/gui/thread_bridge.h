#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace quorvel::gui {

/// Lets worker threads run code on the user-interface thread and wait for
/// it: item notifications, message boxes of popup actions, file operation
/// dialogs. Close releases every waiting worker at once, so the window can
/// go away while workers are inside a call; later calls return at once.
class ThreadBridge : public QObject {
    Q_OBJECT

public:
    /// Lets the user-interface side say when a waited-for call is over.
    class Completion {
    public:
        void Done() const;

    private:
        friend class ThreadBridge;
        struct Ticket;
        explicit Completion(std::shared_ptr<Ticket> ticket) : m_ticket(std::move(ticket)) {}
        std::shared_ptr<Ticket> m_ticket;
    };

    /// The process's dispatcher, living in the user-interface thread.
    static ThreadBridge& Instance();

    /// Starts start on the user-interface thread and waits until it (or
    /// something it set going, such as a window) calls Done. Called on the
    /// user-interface thread itself, start runs at once and the call does
    /// not wait. False when the dispatcher is closed (start may not run).
    bool Await(const std::function<void(Completion)>& start);
    /// Runs f on the user-interface thread and waits for it to end.
    bool Call(const std::function<void()>& f);
    /// Runs f on the user-interface thread later, without waiting; f keeps
    /// what it needs. False when the dispatcher is closed.
    bool Post(std::function<void()> f);

    /// Releases every waiting worker; later calls return false at once.
    void Close();
    /// Takes calls again (tests that build several windows in one run).
    void Reopen();
    bool Closed() const;
    /// Calls waiting for the user-interface thread to take them (for tests).
    std::size_t Queued() const;

private:
    ThreadBridge() = default;
    /// Runs the queued calls (user-interface thread).
    void RunPending();

    struct Pending {
        std::shared_ptr<Completion::Ticket> ticket;
        std::function<void(Completion)> start;
    };

    mutable std::mutex m_mutex;
    bool m_closed = false;
    std::set<std::shared_ptr<Completion::Ticket>> m_waiting;
    std::deque<Pending> m_pending;
    bool m_posted = false;  // a RunPending event is on its way
};

}  // namespace quorvel::gui
