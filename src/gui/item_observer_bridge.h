#pragma once

#include <QPointer>

#include <memory>

#include "engine/base_monitoring.h"

namespace quorvel::gui {

class MainForm;

/// Carries the three notifications of item workers to the main window: each
/// runs on the user-interface thread while the worker waits. Once the window
/// closes, workers are released at once and nothing reaches a window any
/// more; it lives until every worker has been joined.
class ItemObserverBridge : public ItemObserver {
public:
    static ItemObserverBridge& Instance();

    /// The window the notifications go to (none: they are dropped).
    void SetWindow(MainForm* window);

    void UpdateStatus(BaseMonitoring& item) override;
    void ShowCountdown(BaseMonitoring& item) override;
    void ActionsStarting(BaseMonitoring& item) override;

private:
    ItemObserverBridge() = default;
    QPointer<MainForm> m_window;  // read and written on the user-interface thread only
};

}  // namespace quorvel::gui
