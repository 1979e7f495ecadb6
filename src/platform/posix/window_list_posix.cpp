#include <cstdlib>
#include <mutex>

#include "platform/posix/window_list_backends.h"

namespace quorvel::platform {

namespace {

std::mutex g_listMutex;
std::shared_ptr<WindowList> g_list;

}  // namespace

std::shared_ptr<WindowList> CurrentWindowList() {
    {
        std::lock_guard lock(g_listMutex);
        if (g_list) {
            return g_list;
        }
    }
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        if (auto x = OpenX11WindowList(display)) {
            return x;
        }
    }
    return OpenProcessWindowList();
}

void SetWindowList(std::shared_ptr<WindowList> list) {
    std::lock_guard lock(g_listMutex);
    g_list = std::move(list);
}

}  // namespace quorvel::platform
