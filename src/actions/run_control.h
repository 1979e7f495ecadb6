#pragma once

#include <chrono>

#include "core/activity_log.h"

namespace quorvel {

/// What a running action chain may ask of the item that runs it.
class RunControl {
public:
    virtual ~RunControl() = default;
    /// True once the item was told to stop.
    virtual bool StopRequested() const = 0;
    /// Sleeps up to the given time; ends early and answers false when the
    /// item is told to stop.
    virtual bool SleepFor(std::chrono::milliseconds duration) = 0;
    /// Holds the chain while the item is paused (or the whole list is
    /// stopped), before its next action; answers false when the item was
    /// told to stop meanwhile.
    virtual bool HoldWhilePaused() { return !StopRequested(); }
    /// Puts a record of the chain into the activity log; an item adds which
    /// item it is.
    virtual void Log(LogRecord record) { ActivityLog::Report(std::move(record)); }
};

/// A RunControl that is never stopped and sleeps for real (for "Do Action
/// Now" style runs and tests).
class PlainRunControl : public RunControl {
public:
    bool StopRequested() const override { return false; }
    bool SleepFor(std::chrono::milliseconds duration) override;
};

}  // namespace quorvel
