#pragma once

#include <memory>
#include <string>

#include "platform/window_list.h"

namespace quorvel::platform {

/// The files of the X libraries that the X window list loads when a list is
/// first opened.
struct XcbLibraryFiles {
    std::string xcb = "libxcb.so.1";
    std::string ewmh = "libxcb-ewmh.so.2";
};

/// The windows of an X display: client windows in stacking order
/// (_NET_CLIENT_LIST_STACKING, else the children of the root window),
/// titled by _NET_WM_NAME else WM_NAME; close = WM_DELETE_WINDOW (else
/// _NET_CLOSE_WINDOW through the window manager); terminate = SIGKILL to
/// the _NET_WM_PID process of this machine. Nothing when the display cannot
/// be opened, also when the X libraries cannot be loaded. An empty display
/// name means $DISPLAY.
std::unique_ptr<WindowList> OpenX11WindowList(const std::string& display = "",
                                              const XcbLibraryFiles& files = {});

/// The user's own processes, newest first, each titled by its full command
/// line (arguments joined by blanks); close = SIGTERM, terminate = SIGKILL.
/// This process is never listed.
std::unique_ptr<WindowList> OpenProcessWindowList();

}  // namespace quorvel::platform
