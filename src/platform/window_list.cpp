#include <mutex>

#include "platform/system_defaults.h"
#include "platform/window_list.h"

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
    return SystemWindowList();
}

void SetWindowList(std::shared_ptr<WindowList> list) {
    std::lock_guard lock(g_listMutex);
    g_list = std::move(list);
}

}  // namespace quorvel::platform
