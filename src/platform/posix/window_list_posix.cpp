#include <cstdlib>

#include "platform/posix/window_list_backends.h"
#include "platform/system_defaults.h"

namespace quorvel::platform {

// The X display when $DISPLAY names one that opens, else the process list.
std::shared_ptr<WindowList> SystemWindowList() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        if (auto x = OpenX11WindowList(display)) {
            return x;
        }
    }
    return OpenProcessWindowList();
}

}  // namespace quorvel::platform
