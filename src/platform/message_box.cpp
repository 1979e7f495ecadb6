#include "platform/message_box.h"

#include <mutex>

namespace quorvel::platform {

namespace {

std::mutex g_boxMutex;
std::shared_ptr<MessageBox> g_box;

}  // namespace

std::shared_ptr<MessageBox> CurrentMessageBox() {
    std::lock_guard lock(g_boxMutex);
    return g_box;
}

void SetMessageBox(std::shared_ptr<MessageBox> box) {
    std::lock_guard lock(g_boxMutex);
    g_box = std::move(box);
}

}  // namespace quorvel::platform
