#include <pthread.h>

#include <memory>

#include "platform/thread.h"

namespace quorvel::platform {

namespace {

void* ThreadEntry(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stackSize) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize > 0) {
        pthread_attr_setstacksize(&attr, stackSize);
    }
    auto heapBody = std::make_unique<std::function<void()>>(std::move(body));
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, &ThreadEntry, heapBody.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        return false;
    }
    heapBody.release();  // the thread owns it now
    return true;
}

}  // namespace quorvel::platform
