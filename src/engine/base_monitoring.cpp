#include "engine/base_monitoring.h"

#include <algorithm>

#include "platform/paths.h"
#include "platform/thread.h"

namespace quorvel {

namespace {

// Actions run on the worker, so its stack must hold a chain of them; items
// are many, so it stays well below the system default. Sanitizers need more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kWorkerStack = 8u << 20;
#else
constexpr std::size_t kWorkerStack = 512u << 10;
#endif

// Even an idle item looks at the clock now and then, so a wall-clock jump
// cannot hold back a schedule change for long.
constexpr auto kLongestSleep = std::chrono::seconds(60);

struct WorkerCount {
    std::mutex mutex;
    std::condition_variable changed;
    int live = 0;
};

WorkerCount& Workers() {
    static WorkerCount count;
    return count;
}

using SteadyClock = std::chrono::steady_clock;

std::int64_t ToNs(SteadyClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

SteadyClock::time_point FromNs(std::int64_t ns) {
    return SteadyClock::time_point(
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(ns)));
}

}  // namespace

BaseMonitoring::BaseMonitoring(bool paused)
    : m_state(ItemState::Unknown), m_actions(std::make_shared<const ActionList>()) {
    m_pauseShown.store(paused, std::memory_order_relaxed);
    m_isDirectory = &m_params.Add<IntParam>("IsDirectory", 0, 0, 2);
    m_fileName = &m_params.Add<StringParam>("FileName", "");
    m_comment = &m_params.Add<StringParam>("Comment", "");
    m_interval = &m_params.Add<IntParam>("Interval", 60, 1, 2147483647);
    m_runOnce = &m_params.Add<BoolParam>("RunOnce", false);
    m_toPaused = &m_params.Add<BoolParam>("ToPaused", false);
    m_workHours = &m_params.Add<BoolParam>("WorkHours", false);
    m_timeInterval = &m_params.Add<StringListParam>("TimeInterval");
    m_days = &m_params.Add<StringParam>("Days", "1111111", 7);
    m_monthDays = &m_params.Add<StringParam>("MonthDays", "");
    m_excludedDates = &m_params.Add<StringParam>("ExcludedDates", "");
    m_includedDates = &m_params.Add<StringParam>("IncludedDates", "");
}

BaseMonitoring::~BaseMonitoring() {
    StopWorker();
}

void BaseMonitoring::ReadSettings(const std::vector<std::string>& lines,
                                  const SettingsLineSink& sink) {
    auto actions = std::make_shared<ActionList>();
    IntParam actionKind("Action", 0, 0, 5);
    Action* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SettingsLineUse use{i, m_params.Take(line), -1};
        if (use.param != nullptr) {
            // an item key
        } else if (actionKind.ParseLine(line)) {
            if (auto action = CreateAction(static_cast<ActionKind>(actionKind.Value()))) {
                current = action.get();
                actions->push_back(std::move(action));
                use.param = current->Params().Find("Action");
                use.action = static_cast<int>(actions->size()) - 1;
            }
        } else if (current != nullptr) {
            use.param = current->Params().Take(line);
            use.action = static_cast<int>(actions->size()) - 1;
        }
        if (sink) {
            sink(use);
        }
    }
    SetActions(std::move(actions));
    ApplySettings();
}

void BaseMonitoring::WriteSettings(std::string& out) const {
    out += Paused() ? "Paused=1" : "Paused=0";
    out += platform::kLineEnding;
    // Settings taken while a check runs are what the item has from now on.
    std::shared_ptr<const BaseMonitoring> pending;
    {
        std::lock_guard lock(m_pendingMutex);
        pending = m_pendingSettings;
    }
    const BaseMonitoring& source = pending ? *pending : *this;
    source.m_params.Write(out);
    auto actions = source.Actions();
    for (const auto& action : *actions) {
        out += ';';
        out += platform::kLineEnding;
        action->Params().Write(out);
    }
}

void BaseMonitoring::ApplySettings() {
    bool workHours = m_workHours->Value();
    std::vector<std::string> windows = m_timeInterval->Values();
    {
        // The worker tests the schedule while the settings are applied.
        std::lock_guard lock(m_scheduleMutex);
        m_schedule.Apply(workHours, windows, m_days->Value(), m_monthDays->Value(),
                         m_excludedDates->Value(), m_includedDates->Value());
    }
    m_timeInterval->SetValues(std::move(windows));
    m_workHours->SetValue(workHours);
}

void BaseMonitoring::TakeSettings(std::shared_ptr<const BaseMonitoring> from,
                                  std::optional<bool> reset) {
    {
        std::lock_guard lock(m_pendingMutex);
        m_pendingSettings = std::move(from);
        m_pendingReset = reset;
    }
    // Not while a check runs: the worker takes them when it ends.
    if (m_checkMutex.try_lock()) {
        TakePendingSettingsLocked();
        m_checkMutex.unlock();
    }
    Wake();
}

void BaseMonitoring::TakePendingSettingsLocked() {
    std::shared_ptr<const BaseMonitoring> from;
    std::optional<bool> reset;
    {
        std::lock_guard lock(m_pendingMutex);
        from = std::move(m_pendingSettings);
        reset = m_pendingReset;
        m_pendingReset.reset();
    }
    if (!from) {
        return;
    }
    m_params.AssignFrom(from->Params());
    SetActions(from->Actions());
    ApplySettings();
    if (reset) {
        SetReset(*reset);
    }
    m_settingsGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::shared_ptr<const ActionList> BaseMonitoring::Actions() const {
    std::lock_guard lock(m_mutex);
    return m_actions;
}

void BaseMonitoring::SetActions(std::shared_ptr<const ActionList> actions) {
    if (!actions) {
        actions = std::make_shared<const ActionList>();
    }
    std::lock_guard lock(m_mutex);
    m_actions = std::move(actions);
}

void BaseMonitoring::Log(LogRecord record) {
    record.item = Id() + 1;
    record.itemName = FileName();
    ActivityLog::Report(std::move(record));
}

void BaseMonitoring::LogError(std::string message) {
    LogRecord record;
    record.level = LogLevel::Error;
    record.message = std::move(message);
    Log(std::move(record));
}

void BaseMonitoring::LogActing() {
    // "Acting on 2 added, 1 deleted" with the files concerned.
    static constexpr const char* kKinds[] = {nullptr, "added", "changed", "deleted", "old"};
    std::size_t counts[5] = {};
    LogRecord record;
    record.files.reserve(m_files.size());
    for (const FileData& f : m_files) {
        ++counts[std::min<std::size_t>(static_cast<std::size_t>(f.kind), 4)];
        if (f.name) {
            record.files.push_back(*f.name);
        }
    }
    std::string what;
    for (std::size_t k = 1; k < 5; ++k) {
        if (counts[k] > 0) {
            what += (what.empty() ? "" : ", ") + std::to_string(counts[k]) + " " + kKinds[k];
        }
    }
    record.message = what.empty() ? "The condition holds: acting" : "Acting on " + what;
    Log(std::move(record));
}

void BaseMonitoring::RunActionsNow() {
    // The worker owns its file records and empties them after every check,
    // so a run from outside works on none. Such a run is asked for by the
    // user and goes on while the item or the list is paused.
    class UnheldControl : public RunControl {
    public:
        explicit UnheldControl(BaseMonitoring& item) : m_item(item) {}
        bool StopRequested() const override { return m_item.StopRequested(); }
        bool SleepFor(std::chrono::milliseconds duration) override {
            return m_item.SleepFor(duration);
        }
        bool HoldWhilePaused() override { return !StopRequested(); }
        void Log(LogRecord record) override { m_item.Log(std::move(record)); }

    private:
        BaseMonitoring& m_item;
    };
    const FileList none;
    auto actions = Actions();
    UnheldControl control(*this);
    RunActions(*actions, none, control);
}

bool BaseMonitoring::Start() {
    if (m_started) {
        return true;
    }
    m_started = true;
    {
        std::lock_guard lock(Workers().mutex);
        ++Workers().live;
    }
    // The owner keeps the item alive until its worker has ended, and the
    // item joins the worker before it goes.
    m_thread = platform::Thread(
        [this] {
            WorkerGuarded();
            auto& workers = Workers();
            std::lock_guard lock(workers.mutex);
            --workers.live;
            workers.changed.notify_all();
        },
        kWorkerStack);
    if (!m_thread.Joinable()) {
        std::lock_guard lock(Workers().mutex);
        --Workers().live;
        Workers().changed.notify_all();
        m_finished.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

void BaseMonitoring::StopWorker() {
    RequestStop();
    m_thread.Join();
}

void BaseMonitoring::Resume() {
    SetState(m_checkNow.load() ? ItemState::Unknown : ItemState::Ok);
    m_pauseShown.store(false, std::memory_order_release);
    m_suspended.store(false, std::memory_order_release);
    NotifyStatus();
    Wake();
}

void BaseMonitoring::Pause() {
    // The flags go first: the worker tests them before every check and every
    // action, so nothing new starts from here on.
    m_suspended.store(true, std::memory_order_release);
    m_pauseShown.store(true, std::memory_order_release);
    NotifyStatus();
    Wake();
}

void BaseMonitoring::Suspend() {
    m_suspended.store(true, std::memory_order_release);
    Wake();
}

void BaseMonitoring::RequestStop() {
    m_terminated.store(true, std::memory_order_release);
    Wake();
}

void BaseMonitoring::SetReset(bool rescan) {
    m_reset.store(rescan, std::memory_order_release);
    m_fired.store(false, std::memory_order_release);
    if (!Suspended()) {
        SetState(ItemState::Unknown);
        m_checkNow.store(true, std::memory_order_release);
    }
    Wake();
}

void BaseMonitoring::CheckNow(bool resumeIfPaused) {
    m_checkNow.store(true, std::memory_order_release);
    if (resumeIfPaused && State() == ItemState::Paused) {
        Resume();
        return;
    }
    Wake();
}

bool BaseMonitoring::HoldWhilePaused() {
    std::unique_lock lock(m_mutex);
    if (Suspended() && !StopRequested()) {
        m_holding.store(true, std::memory_order_release);
        m_wake.wait(lock, [&] { return StopRequested() || !Suspended(); });
        m_holding.store(false, std::memory_order_release);
    }
    return !StopRequested();
}

bool BaseMonitoring::SleepFor(std::chrono::milliseconds duration) {
    const auto deadline = SteadyClock::now() + duration;
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, deadline, [&] { return StopRequested(); });
    return !StopRequested();
}

bool BaseMonitoring::WaitBriefly(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    m_wakePending = false;
    m_wake.wait_for(lock, duration, [&] { return m_wakePending; });
    return !StopRequested();
}

void BaseMonitoring::Wake() {
    {
        std::lock_guard lock(m_mutex);
        m_wakePending = true;
    }
    m_wake.notify_all();
}

void BaseMonitoring::NotifyStatus() {
    if (m_observer != nullptr && !StopRequested()) {
        m_observer->UpdateStatus(*this);
    }
}

int BaseMonitoring::SecondsLeft() const {
    const auto left = FromNs(m_nextDueNs.load(std::memory_order_relaxed)) - SteadyClock::now();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left).count();
    return static_cast<int>(std::clamp<long long>(seconds, 0, Interval()));
}

void BaseMonitoring::SetElapsedSeconds(long long seconds) {
    m_dueSet = true;
    const long long left = std::max<long long>(0, static_cast<long long>(Interval()) - seconds);
    m_nextDue = SteadyClock::now() + std::chrono::seconds(left);
    m_nextDueNs.store(ToNs(m_nextDue), std::memory_order_relaxed);
}

int BaseMonitoring::LiveWorkers() {
    std::lock_guard lock(Workers().mutex);
    return Workers().live;
}

bool BaseMonitoring::WaitForWorkers(std::chrono::milliseconds deadline) {
    auto& workers = Workers();
    std::unique_lock lock(workers.mutex);
    return workers.changed.wait_for(lock, deadline, [&] { return workers.live == 0; });
}

void BaseMonitoring::WorkerGuarded() {
    // Whatever escapes the body ends this item's work, never the program.
    try {
        Execute();
    } catch (const std::exception& e) {
        LogError(std::string("The item stopped working: ") + e.what());
    } catch (...) {
        LogError("The item stopped working after an unexpected error");
    }
    m_finished.store(true, std::memory_order_release);
}

void BaseMonitoring::RunOneCheckGuarded() {
    // A check that fails is reported; the next one comes on the interval.
    try {
        RunOneCheck();
    } catch (const std::exception& e) {
        m_files.clear();
        LogError(std::string("The check failed: ") + e.what());
    } catch (...) {
        m_files.clear();
        LogError("The check failed after an unexpected error");
    }
}

OnceOutcome BaseMonitoring::CheckOnce(bool honourSchedule) {
    if (m_started) {
        return OnceOutcome::Quiet;
    }
    m_oneShot = true;
    // No worker waits on these: the check and its actions run here.
    m_pauseShown.store(false, std::memory_order_release);
    m_suspended.store(false, std::memory_order_release);
    Prepare();
    if (honourSchedule && !InSchedule(DateTime::Now())) {
        SetState(ItemState::Waiting);
        return OnceOutcome::OutsideSchedule;
    }
    m_acted = false;
    RunOneCheckGuarded();
    return m_acted ? OnceOutcome::Acted : OnceOutcome::Quiet;
}

void BaseMonitoring::Execute() {
    Prepare();
    m_nextDue = SteadyClock::now();
    m_nextDueNs.store(ToNs(m_nextDue), std::memory_order_relaxed);
    while (!StopRequested()) {
        {
            // Settings taken while a check ran apply before anything else.
            std::lock_guard checkLock(m_checkMutex);
            TakePendingSettingsLocked();
        }
        if (Suspended()) {
            // A pause shows as such through State(); a worker that suspended
            // itself after its actions keeps its state, so that continue-all
            // resumes it.
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return StopRequested() || !Suspended(); });
            continue;
        }

        const DateTime now = DateTime::Now();
        const bool admitted = InSchedule(now);
        if (admitted && State() == ItemState::Waiting) {
            SetState(ItemState::Unknown);
            m_checkNow.store(true, std::memory_order_release);
        } else if (!admitted && State() != ItemState::Waiting) {
            SetState(ItemState::Waiting);
            NotifyStatus();
        }

        const bool waiting = State() == ItemState::Waiting;
        const bool due = SteadyClock::now() >= m_nextDue;
        if (!waiting && (due || CheckRequested() || ResetRequested())) {
            m_dueCheck = due;
            RunOneCheckGuarded();
            continue;
        }

        // Sleep until the next check, the next moment the schedule may
        // change, a request, a pause or a stop, whichever comes first.
        const double toChange =
            (NextScheduleChange(now).Days() - now.Days()) * DateTime::kSecondsPerDay;
        auto wakeAt = SteadyClock::now() +
                      std::chrono::milliseconds(static_cast<long long>(toChange * 1000.0) + 5);
        if (!waiting) {
            wakeAt = std::min(wakeAt, m_nextDue);
        }
        wakeAt = std::min(wakeAt, SteadyClock::now() + kLongestSleep);
        std::unique_lock lock(m_mutex);
        m_wake.wait_until(lock, wakeAt,
                          [&] { return m_wakePending || StopRequested() || Suspended(); });
        m_wakePending = false;
    }
}

void BaseMonitoring::RunOneCheck() {
    m_checkNow.store(false, std::memory_order_release);
    std::unique_lock checkLock(m_checkMutex);
    TakePendingSettingsLocked();
    // While the check and its actions run, the countdown shows the whole
    // interval; it starts once they have ended, unless Check set it.
    SetElapsedSeconds(0);
    m_dueSet = false;
    if (m_observer != nullptr && !StopRequested()) {
        m_observer->ShowCountdown(*this);
    }
    const bool fulfilled = Check();
    // Settings that came during the check take effect as it ends.
    TakePendingSettingsLocked();
    checkLock.unlock();
    if (fulfilled) {
        // A pause that came during the check holds the actions back.
        if (!(m_runOnce->Value() && m_fired.load(std::memory_order_acquire)) && HoldWhilePaused()) {
            const ItemState remembered = m_state.load(std::memory_order_acquire);
            SetState(ItemState::Acting);
            NotifyStatus();
            if (m_observer != nullptr) {
                m_observer->ActionsStarting(*this);
            }
            SetState(remembered);
            LogActing();
            auto actions = Actions();
            RunActions(*actions, m_files, *this);
            m_acted = true;
            if (m_toPaused->Value() && !StopRequested() && !m_oneShot) {
                if (m_observer != nullptr) {
                    Pause();
                } else {
                    Suspend();
                }
            }
        }
        m_fired.store(true, std::memory_order_release);
    } else {
        m_fired.store(false, std::memory_order_release);
    }
    AfterCheck(!StopRequested());
    if (!m_dueSet) {
        SetElapsedSeconds(0);
    }
    NotifyStatus();
    m_files.clear();
    m_checkCount.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace quorvel
