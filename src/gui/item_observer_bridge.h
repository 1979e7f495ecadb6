#pragma once

#include <QPointer>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "engine/base_monitoring.h"

namespace quorvel::gui {

class MainForm;

/// Carries the three notifications of item workers to the main window
/// without holding the workers: each notification is noted and the worker
/// goes on; the window takes every change noted by then in one event, the
/// latest state of each item, so a thousand items reporting at once cost it
/// one wake-up. It lives until every worker has been joined.
class ItemObserverBridge : public ItemObserver {
public:
    /// What changed for one item since the window last looked.
    struct Change {
        const BaseMonitoring* item = nullptr;  // compared, never read
        int row = 0;
        ItemState state = ItemState::Unknown;
        bool countdown = false;  // a check started: the countdown shows the whole interval
        int interval = 0;
        std::uint64_t settings = 0;
    };

    static ItemObserverBridge& Instance();

    /// The window the notifications go to (none: they are dropped).
    void SetWindow(MainForm* window);

    void UpdateStatus(BaseMonitoring& item) override;
    void ShowCountdown(BaseMonitoring& item) override;
    void ActionsStarting(BaseMonitoring& item) override;

    /// Hands the changes noted so far to the window (user-interface thread;
    /// the posted event does it, tests may too).
    void Deliver();

private:
    ItemObserverBridge() = default;
    void Note(BaseMonitoring& item, bool countdown);
    void PostLocked();

    QPointer<MainForm> m_window;  // read and written on the user-interface thread only
    std::mutex m_mutex;
    std::unordered_map<const BaseMonitoring*, Change> m_pending;
    std::vector<const BaseMonitoring*> m_order;  // the items in the order they first reported
    bool m_acting = false;
    bool m_posted = false;
};

}  // namespace quorvel::gui
