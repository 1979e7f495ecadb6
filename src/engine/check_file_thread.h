#pragma once

#include <cstdint>

#include "engine/base_monitoring.h"
#include "platform/local_time.h"

namespace quorvel {

/// A monitored single file: changed, not changed, or missing.
class CheckFileThread : public BaseMonitoring {
public:
    static std::shared_ptr<CheckFileThread> Create(bool paused);
    ~CheckFileThread() override;

    int IfChanged() const { return m_ifChanged->Value(); }
    bool MustExist() const { return m_mustExist->Value(); }

protected:
    explicit CheckFileThread(bool paused);
    bool Check() override;

private:
    bool m_firstCheck = true;
    platform::EpochTime m_storedTime{};
    std::int64_t m_storedSize = 0;
    bool m_hasStored = false;

    IntParam* m_ifChanged;
    BoolParam* m_ignoreFirst;
    BoolParam* m_mustExist;
    BoolParam* m_checkLocking;
    BoolParam* m_waitUnlocking;
};

}  // namespace quorvel
