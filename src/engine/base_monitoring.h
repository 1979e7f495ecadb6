#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/action.h"
#include "actions/run_control.h"
#include "core/date_time.h"
#include "core/file_data.h"
#include "core/item_kind.h"
#include "core/item_state.h"
#include "core/param.h"
#include "engine/schedule.h"
#include "platform/thread.h"

namespace quorvel {

class BaseMonitoring;

/// Receives an item's three notifications (the desktop program shows them;
/// the console program passes none). Called on the item's worker thread; the
/// observer must outlive every worker that holds it (wait for the workers to
/// finish before destroying it).
class ItemObserver {
public:
    virtual ~ItemObserver() = default;
    virtual void UpdateStatus(BaseMonitoring& item) = 0;
    virtual void ShowCountdown(BaseMonitoring& item) = 0;
    virtual void ActionsStarting(BaseMonitoring& item) = 0;
};

/// Where ReadSettings put one line of a block (for checking a configuration).
struct SettingsLineUse {
    std::size_t line = 0;          ///< index in the block's lines
    const Param* param = nullptr;  ///< what took it; none: the line was dropped
    int action = -1;               ///< the action it went to, from 0; -1: the item
};
using SettingsLineSink = std::function<void(const SettingsLineUse&)>;

/// What one check of CheckOnce came to.
enum class OnceOutcome {
    OutsideSchedule,  ///< the schedule did not admit the moment; nothing checked
    Quiet,            ///< checked; the condition did not hold or nothing ran
    Acted,            ///< the condition held and the actions ran
};

/// A monitored item: one worker thread that tests its schedule, runs its
/// kind's check every Interval seconds (or at once when asked) and runs its
/// actions when the check is fulfilled. The worker sleeps until its next due
/// moment, so an idle item costs nothing; requests wake it at once.
///
/// Lifetime: items are shared. Whoever holds the last reference waits for the
/// worker when it lets go, so owners keep a stopped item (MonitorProcess
/// does, without blocking) until Finished() answers true.
class BaseMonitoring : public RunControl {
public:
    ~BaseMonitoring() override;
    BaseMonitoring(const BaseMonitoring&) = delete;
    BaseMonitoring& operator=(const BaseMonitoring&) = delete;

    // Settings and configuration.
    /// Reads one configuration block: item keys first, then "Action" lines
    /// that open actions, other lines to the current action.
    /// sink, when given, learns where each line went.
    void ReadSettings(const std::vector<std::string>& lines, const SettingsLineSink& sink = {});
    /// Appends "Paused", the item's keys and each action (after a ";" line).
    void WriteSettings(std::string& out) const;
    /// Rebuilds the schedule data from the settings.
    virtual void ApplySettings();
    /// Takes new settings as one value: every parameter of from (an item of
    /// the same kind, not started, holding the new values) and its action
    /// list, then applies them. When no check runs they apply at once,
    /// otherwise right after the running check, before the next one: a
    /// check never sees half old, half new settings. reset, when given,
    /// then asks for a fresh start as SetReset does.
    void TakeSettings(std::shared_ptr<const BaseMonitoring> from, std::optional<bool> reset);
    /// Counts the settings taken whole so far (a window shows them anew when
    /// it changes).
    std::uint64_t SettingsGeneration() const {
        return m_settingsGeneration.load(std::memory_order_acquire);
    }

    // Control, from the owner's thread.
    /// Starts the worker thread. A paused item's worker waits for Resume.
    bool Start();
    void Resume();
    /// Pauses at the worker's next test: no further check or action starts.
    void Pause();
    /// Holds the worker at its next test without showing the item paused
    /// (the whole list is paused, or the item paused itself after acting).
    void Suspend();
    /// Asks the worker to end; never waits.
    void RequestStop();
    virtual void SetReset(bool rescan);
    virtual void CheckNow(bool resumeIfPaused);

    /// Runs one check on the calling thread and, when its condition holds,
    /// the actions; then the item keeps what the check found (a directory
    /// item writes its cache). Only for an item whose worker never started,
    /// and never together with Start. With honourSchedule, a moment outside
    /// the schedule checks nothing. Failures go to the activity log.
    OnceOutcome CheckOnce(bool honourSchedule);

    // RunControl for the action chain.
    bool StopRequested() const override { return m_terminated.load(std::memory_order_acquire); }
    bool SleepFor(std::chrono::milliseconds duration) override;
    bool HoldWhilePaused() override;
    /// Records an event of this item in the activity log.
    void Log(LogRecord record) override;
    /// A failure of this item itself (not of an action).
    void LogError(std::string message);

    // State.
    /// Paused while the user (or the configuration, or ToPaused) paused the
    /// item, whatever its worker is doing; otherwise what the worker last set.
    ItemState State() const {
        return Paused() ? ItemState::Paused : m_state.load(std::memory_order_acquire);
    }
    /// True while the item is paused by itself (not merely held by a stop of
    /// the whole list); this is what the configuration saves.
    bool Paused() const { return m_pauseShown.load(std::memory_order_acquire); }
    bool Suspended() const { return m_suspended.load(std::memory_order_acquire); }
    /// True once the worker thread has left its body.
    bool Finished() const { return m_finished.load(std::memory_order_acquire); }
    /// True while a fulfilled check's actions wait for the item to be
    /// resumed (for tests).
    bool HoldingChain() const { return m_holding.load(std::memory_order_acquire); }
    /// Number of checks finished so far (for tests and benchmarks).
    std::uint64_t CheckCount() const { return m_checkCount.load(std::memory_order_acquire); }
    int Id() const { return m_id.load(std::memory_order_relaxed); }
    void SetId(int id) { m_id.store(id, std::memory_order_relaxed); }
    /// Seconds until the next regular check.
    int SecondsLeft() const;
    void SetObserver(ItemObserver* observer) { m_observer = observer; }

    // The common settings.
    ItemKind Kind() const { return static_cast<ItemKind>(m_isDirectory->Value()); }
    void SetKind(ItemKind kind) { m_isDirectory->SetValue(static_cast<int>(kind)); }
    std::string FileName() const { return m_fileName->Value(); }
    std::string Comment() const { return m_comment->Value(); }
    int Interval() const { return m_interval->Value(); }
    ParamList& Params() { return m_params; }
    const ParamList& Params() const { return m_params; }

    /// The action list in force; a run keeps the list it started with alive.
    std::shared_ptr<const ActionList> Actions() const;
    void SetActions(std::shared_ptr<const ActionList> actions);
    /// Runs the actions once on the files the item holds now.
    void RunActionsNow();

    /// True when the schedule admits the moment.
    bool InSchedule(DateTime now) const {
        std::lock_guard lock(m_scheduleMutex);
        return m_schedule.Admits(now);
    }
    /// The next moment after now at which the schedule's answer may change.
    DateTime NextScheduleChange(DateTime now) const {
        std::lock_guard lock(m_scheduleMutex);
        return m_schedule.NextChange(now);
    }

    /// Number of worker threads of any item still running in the process.
    static int LiveWorkers();
    /// Waits until every worker thread has ended or the deadline passes.
    static bool WaitForWorkers(std::chrono::milliseconds deadline);

protected:
    explicit BaseMonitoring(bool paused);

    /// The thread body. Kinds that override it call the base at the end.
    virtual void Execute();
    /// Runs before the first check (the worker's or CheckOnce's).
    virtual void Prepare() {}
    /// True for an item that checks once on its owner's thread (CheckOnce):
    /// it watches nothing and never suspends itself.
    bool OneShot() const { return m_oneShot; }
    /// One check; true when the condition is fulfilled, with the files
    /// concerned appended to Files().
    virtual bool Check() = 0;
    /// Called on the worker after every check, once the actions it caused
    /// have run; chainCompleted is false when a stop cut them short.
    virtual void AfterCheck(bool /*chainCompleted*/) {}

    FileList& Files() { return m_files; }
    void SetState(ItemState state) { m_state.store(state, std::memory_order_release); }
    void NotifyStatus();
    bool ResetRequested() const { return m_reset.load(std::memory_order_acquire); }
    void SetResetFlag(bool value) { m_reset.store(value, std::memory_order_release); }
    bool CheckRequested() const { return m_checkNow.load(std::memory_order_acquire); }
    /// True while the running check is the regular one of the interval.
    bool DueCheck() const { return m_dueCheck; }
    /// The path of the previous check (macros expanded).
    std::string& LastPath() { return m_lastPath; }
    /// Sets how many seconds of the current interval count as elapsed. Set by
    /// a check, it holds; otherwise the interval starts anew once the check
    /// and its actions have ended.
    void SetElapsedSeconds(long long seconds);
    /// Waits up to the duration or until a request, resume or stop arrives;
    /// false when the item was told to stop.
    bool WaitBriefly(std::chrono::milliseconds duration);

    ParamList m_params;
    IntParam* m_isDirectory;
    StringParam* m_fileName;
    StringParam* m_comment;
    IntParam* m_interval;
    BoolParam* m_runOnce;
    BoolParam* m_toPaused;
    BoolParam* m_workHours;
    StringListParam* m_timeInterval;
    StringParam* m_days;
    StringParam* m_monthDays;
    StringParam* m_excludedDates;
    StringParam* m_includedDates;

    /// Asks the worker to end and waits for it. Every kind's destructor
    /// calls it first, so the worker never runs into a half-destroyed item.
    void StopWorker();

private:
    /// Applies settings waiting to be taken; the check lock is held.
    void TakePendingSettingsLocked();

    void WorkerGuarded();
    void RunOneCheckGuarded();
    /// The record of a check whose condition holds, before its actions run.
    void LogActing();
    void RunOneCheck();
    void Wake();

    FileList m_files;
    mutable std::mutex m_scheduleMutex;  // the schedule is rebuilt while the worker reads it
    Schedule m_schedule;
    std::string m_lastPath;
    std::atomic<int> m_id{0};
    std::atomic<ItemState> m_state;
    std::atomic<bool> m_checkNow{true};
    std::atomic<bool> m_reset{true};
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_suspended{true};
    std::atomic<bool> m_finished{false};
    std::atomic<std::uint64_t> m_checkCount{0};
    std::atomic<bool> m_fired{false};
    std::atomic<bool> m_pauseShown{false};
    std::atomic<bool> m_holding{false};
    bool m_started = false;
    bool m_oneShot = false;
    bool m_acted = false;        // worker only: the last check ran the actions
    bool m_dueSet = false;       // worker only: the running check set its next due moment
    bool m_dueCheck = false;     // worker only: the running check is the interval's
    bool m_wakePending = false;  // guarded by m_mutex
    std::chrono::steady_clock::time_point m_nextDue;  // worker only
    std::atomic<std::int64_t> m_nextDueNs{0};         // the same, for SecondsLeft
    ItemObserver* m_observer = nullptr;
    platform::Thread m_thread;
    // Held while a check runs; settings taken whole apply under it.
    std::mutex m_checkMutex;
    mutable std::mutex m_pendingMutex;
    std::shared_ptr<const BaseMonitoring> m_pendingSettings;  // guarded by m_pendingMutex
    std::optional<bool> m_pendingReset;                       // guarded by m_pendingMutex
    std::atomic<std::uint64_t> m_settingsGeneration{0};

    mutable std::mutex m_mutex;  // guards the wait and the action list pointer
    std::condition_variable m_wake;
    std::shared_ptr<const ActionList> m_actions;
};

}  // namespace quorvel
