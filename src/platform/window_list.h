#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::platform {

/// One top-level window (or, without a display, one process).
struct TopLevelWindow {
    std::uint64_t id = 0;  ///< window id, or process id without a display
    std::string title;     ///< empty when it has none
    int pid = 0;           ///< owning process, 0 when unknown
};

/// The top-level windows of the user's session, to find programs by title.
class WindowList {
public:
    virtual ~WindowList() = default;
    /// Every top-level window, visible or not, topmost first.
    virtual std::vector<TopLevelWindow> Windows() = 0;
    /// Asks the window to close and waits up to wait for the program to
    /// take the request (and, without a display, for the process to end).
    /// True when the request was delivered.
    virtual bool Close(const TopLevelWindow& window, std::chrono::milliseconds wait) = 0;
    /// Ends the owning process at once. Never ends this process; false when
    /// the process is unknown or cannot be ended.
    virtual bool Terminate(const TopLevelWindow& window) = 0;
};

/// The window list that actions use: one set by a program or test, else
/// the X display when $DISPLAY names one that can be opened, else the
/// process list. Safe to call from any thread.
std::shared_ptr<WindowList> CurrentWindowList();

/// Makes every later CurrentWindowList answer this list (nullptr restores
/// the choice by display).
void SetWindowList(std::shared_ptr<WindowList> list);

}  // namespace quorvel::platform
