#include <memory>

#include "platform/thread.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

DWORD WINAPI ThreadEntry(LPVOID arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stackSize) {
    auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
    // The size is what the thread reserves, not what it commits at once.
    HANDLE thread = ::CreateThread(nullptr, stackSize, &ThreadEntry, heapBody.get(),
                                   stackSize > 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    heapBody.release();  // the thread owns it now
    ::CloseHandle(thread);
    return true;
}

}  // namespace quorvel::platform
