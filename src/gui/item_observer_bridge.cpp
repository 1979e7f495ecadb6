#include "gui/item_observer_bridge.h"

#include "gui/main_form.h"
#include "gui/thread_bridge.h"

namespace quorvel::gui {

ItemObserverBridge& ItemObserverBridge::Instance() {
    static ItemObserverBridge bridge;  // ended after main, when every worker is joined
    return bridge;
}

void ItemObserverBridge::SetWindow(MainForm* window) {
    m_window = window;
}

void ItemObserverBridge::UpdateStatus(BaseMonitoring& item) {
    Note(item, false);
}

void ItemObserverBridge::ShowCountdown(BaseMonitoring& item) {
    Note(item, true);
}

void ItemObserverBridge::ActionsStarting(BaseMonitoring& item) {
    if (item.StopRequested()) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_acting = true;
    PostLocked();
}

void ItemObserverBridge::Note(BaseMonitoring& item, bool countdown) {
    if (item.StopRequested()) {
        return;
    }
    Change change;
    change.item = &item;
    change.row = item.Id();
    change.state = item.State();
    change.countdown = countdown;
    change.interval = item.Interval();
    change.settings = item.SettingsGeneration();
    std::lock_guard lock(m_mutex);
    auto [it, fresh] = m_pending.try_emplace(&item, change);
    if (fresh) {
        m_order.push_back(&item);
    } else {
        change.countdown = change.countdown || it->second.countdown;
        it->second = change;
    }
    PostLocked();
}

void ItemObserverBridge::PostLocked() {
    if (m_posted) {
        return;
    }
    m_posted = true;
    ThreadBridge::Instance().Post([this] { Deliver(); });
}

void ItemObserverBridge::Deliver() {
    std::vector<Change> changes;
    bool acting = false;
    {
        std::lock_guard lock(m_mutex);
        m_posted = false;
        changes.reserve(m_order.size());
        for (const BaseMonitoring* item : m_order) {
            changes.push_back(m_pending[item]);
        }
        m_pending.clear();
        m_order.clear();
        acting = std::exchange(m_acting, false);
    }
    if (m_window) {
        m_window->ShowItemChanges(changes, acting);
    }
}

}  // namespace quorvel::gui
