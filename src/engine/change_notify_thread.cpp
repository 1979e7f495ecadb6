#include "engine/change_notify_thread.h"

namespace quorvel {

void ChangeNotifyThread::SetGathering(std::chrono::microseconds quiet,
                                      std::chrono::microseconds maxDelay) {
    platform::WatchService::Process().SetGathering({quiet, maxDelay});
}

std::chrono::microseconds ChangeNotifyThread::SettleTime() {
    return platform::WatchService::Process().CurrentGathering().quiet;
}

std::unique_ptr<ChangeNotifyThread> ChangeNotifyThread::Start(const std::string& path, bool subtree,
                                                              bool directoryNames,
                                                              std::function<void()> onChange,
                                                              std::string* error) {
    auto watch = platform::WatchService::Process().Add(path, subtree, directoryNames,
                                                       std::move(onChange), error);
    if (!watch) {
        return nullptr;
    }
    return std::unique_ptr<ChangeNotifyThread>(new ChangeNotifyThread(std::move(watch)));
}

ChangeNotifyThread::~ChangeNotifyThread() = default;

}  // namespace quorvel
