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
    ThreadBridge::Instance().Call([&] {
        if (m_window && !item.StopRequested()) {
            m_window->UpdateStatus(item);
        }
    });
}

void ItemObserverBridge::ShowCountdown(BaseMonitoring& item) {
    ThreadBridge::Instance().Call([&] {
        if (m_window && !item.StopRequested()) {
            m_window->ShowCountdown(item);
        }
    });
}

void ItemObserverBridge::ActionsStarting(BaseMonitoring& item) {
    ThreadBridge::Instance().Call([&] {
        if (m_window && !item.StopRequested()) {
            m_window->ActionsStarting(item);
        }
    });
}

}  // namespace quorvel::gui
