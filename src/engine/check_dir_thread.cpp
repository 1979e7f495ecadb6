#include "engine/check_dir_thread.h"

#include <cmath>

#include "actions/macro_expander.h"
#include "engine/cache_file.h"
#include "engine/dir_scan.h"
#include "platform/directory_scanner.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "settings/options.h"

namespace quorvel {

namespace {

// Benchmarks compare with the whole walk by turning the walk of changes off.
std::atomic<bool> g_incrementalChecks{true};

bool Flag(const std::string& conditions, std::size_t position) {
    return conditions.size() > position && conditions[position] == '1';
}

}  // namespace

// ---- CheckDirThread ----

std::shared_ptr<CheckDirThread> CheckDirThread::Create(bool paused,
                                                       const std::string& defaultCacheDirectory) {
    return std::shared_ptr<CheckDirThread>(new CheckDirThread(paused, defaultCacheDirectory));
}

CheckDirThread::CheckDirThread(bool paused, const std::string& defaultCacheDirectory)
    : BaseMonitoring(paused) {
    m_cacheId = &m_params.Add<StringParam>("CacheID", "");
    m_realTime = &m_params.Add<BoolParam>("RealTime", false);
    m_realTimeInterval = &m_params.Add<IntParam>("RealTimeInterval", 0, 0, 2147483647);
    m_cacheData = &m_params.Add<BoolParam>("CacheData", false);
    m_checkExistingOnly = &m_params.Add<BoolParam>("CheckExistingOnly", false);
    m_cacheDirectory = &m_params.Add<StringParam>(
        "CacheDirectory",
        defaultCacheDirectory.empty() ? platform::DefaultCacheDirectory() : defaultCacheDirectory);
    m_mask = &m_params.Add<StringParam>("Mask", "*");
    m_excludeMask = &m_params.Add<StringParam>("ExcludeMask", "");
    m_dirMask = &m_params.Add<StringParam>("DirMask", "*");
    m_exclDirMask = &m_params.Add<StringParam>("ExclDirMask", "");
    m_fullPathMask = &m_params.Add<BoolParam>("FullPathMask", false);
    m_dirMonitoring = &m_params.Add<BoolParam>("DirMonitoring", false);
    m_subdir = &m_params.Add<BoolParam>("Subdir", false);
    m_countHidden = &m_params.Add<BoolParam>("CountHidden", true);
    m_inverse = &m_params.Add<BoolParam>("Inverse", false);
    m_conditions = &m_params.Add<StringParam>("Conditions", "1100", 4);
    m_storePrevInfo = &m_params.Add<BoolParam>("StorePrevInfo", false);
    m_conditionType = &m_params.Add<IntParam>("ConditionType", 0, 0, 1);
    m_olderInterval = &m_params.Add<IntParam>("OlderInterval", 3600, 1, 2147483647);
    m_ignoreAdded = &m_params.Add<BoolParam>("IgnoreAdded", true);
    m_ignoreOpened = &m_params.Add<BoolParam>("IgnoreOpened", false);
    m_break = &m_params.Add<BoolParam>("Break", false);
}

CheckDirThread::~CheckDirThread() {
    StopWorker();
    StopWatcher();
}

void CheckDirThread::ApplySettings() {
    BaseMonitoring::ApplySettings();
    m_wholeNext.store(true, std::memory_order_release);
    if (m_cacheId->Value().empty()) {
        m_cacheId->SetFromString(cache_file::NewId());
    }
}

void CheckDirThread::SetReset(bool rescan) {
    m_wholeNext.store(true, std::memory_order_release);
    BaseMonitoring::SetReset(rescan);
}

bool CheckDirThread::IncrementalAllowed(const DirScanRules& rules) const {
    // Settings whose answer depends on files no notification reports:
    // their age, whether someone holds them open, the first one only, or
    // the absence of any change.
    return g_incrementalChecks.load(std::memory_order_relaxed) && m_realTime->Value() &&
           rules.condition == ConditionType::StatusChanges && !rules.ignoreOpened &&
           !rules.breakFirst && !m_inverse->Value();
}

void CheckDirThread::SimulateLostEvents() {
    std::lock_guard lock(m_watcherMutex);
    if (m_watcher) {
        m_watcher->LoseEvents();
    }
}

void CheckDirThread::SetIncrementalChecks(bool on) {
    g_incrementalChecks.store(on, std::memory_order_relaxed);
}

void CheckDirThread::CheckNow(bool resumeIfPaused) {
    if (resumeIfPaused) {
        // Asked for by the user: the whole tree.
        m_wholeNext.store(true, std::memory_order_release);
        // A check the user asked for is never held back by the minimum
        // interval between real-time checks; cleared before the worker wakes.
        m_lastCheckTime.store(0.0, std::memory_order_release);
    }
    BaseMonitoring::CheckNow(resumeIfPaused);
}

std::string CheckDirThread::CachePath() const {
    return cache_file::PathFor(m_cacheDirectory->Value(), m_cacheId->Value());
}

bool CheckDirThread::Watching() const {
    std::lock_guard lock(m_watcherMutex);
    return m_watcher && m_watcher->Running();
}

void CheckDirThread::Prepare() {
    if (m_cacheData->Value()) {
        std::string error;
        if (auto contents = cache_file::Read(CachePath(), &error)) {
            m_snapshot = std::move(contents->snapshot);
            m_snapshotSize.store(m_snapshot.Size(), std::memory_order_release);
            m_fromCache = true;
            if (contents->recordWithoutName) {
                // Some cached entries carry no name to report their deletion
                // with, and a deletion never reaches the actions nameless.
                m_storePrevInfo->SetValue(false);
            }
        } else if (!error.empty()) {
            LogRecord record;
            record.level = LogLevel::Warning;
            record.message = error + "; the first check is a baseline";
            Log(std::move(record));
        }
    }
}

void CheckDirThread::StopWatcher() {
    std::unique_ptr<ChangeNotifyThread> watcher;
    {
        std::lock_guard lock(m_watcherMutex);
        watcher = std::move(m_watcher);
    }
    watcher.reset();  // no notification after this
}

void CheckDirThread::NoteRealTimeProblem(const std::string& problem) {
    {
        std::lock_guard lock(m_watcherMutex);
        if (problem == m_realTimeProblem) {
            return;  // said once
        }
        m_realTimeProblem = problem;
    }
    if (!problem.empty()) {
        LogRecord record;
        record.level = LogLevel::Warning;
        record.message = problem;
        Log(std::move(record));
    }
}

std::string CheckDirThread::RealTimeProblem() const {
    std::lock_guard lock(m_watcherMutex);
    return m_realTimeProblem;
}

void CheckDirThread::RestartWatcher(const std::string& path) {
    StopWatcher();
    if (!m_realTime->Value() || OneShot()) {
        NoteRealTimeProblem({});
        return;
    }
    m_watchedSubtree = m_subdir->Value();
    m_watchedDirectoryNames = m_dirMonitoring->Value();
    m_wholeNext.store(true, std::memory_order_release);
    std::string error;
    auto watcher = ChangeNotifyThread::Start(
        path, m_watchedSubtree, m_watchedDirectoryNames,
        [this] {
            m_notified.store(true, std::memory_order_release);
            CheckNow(false);
        },
        &error);
    if (!watcher) {
        // A missing directory is the check's to report; anything else means
        // the item cannot react at once.
        if (const auto info = platform::Stat(path); info && info->isDirectory) {
            NoteRealTimeProblem("\"" + path + "\" can not be watched in real time: " + error +
                                "; it is checked every " + std::to_string(Interval()) + " seconds");
        }
    } else {
        NoteRealTimeProblem({});
    }
    std::lock_guard lock(m_watcherMutex);
    m_watcher = std::move(watcher);
}

bool CheckDirThread::Check() {
    const DateTime now = DateTime::Now();

    // Real-time checks keep their minimum distance; the regular check comes
    // when it has passed.
    if (!ResetRequested() && m_realTime->Value() && m_realTimeInterval->Value() > 0) {
        const double remaining = m_lastCheckTime.load(std::memory_order_acquire) +
                                 m_realTimeInterval->Value() / DateTime::kSecondsPerDay -
                                 now.Days();
        if (remaining > 0) {
            const auto seconds =
                static_cast<long long>(std::ceil(remaining * DateTime::kSecondsPerDay));
            SetElapsedSeconds(static_cast<long long>(Interval()) - seconds);
            return false;
        }
    }
    m_lastCheckTime.store(now.Days(), std::memory_order_release);

    // Path and masks, with the macros that need no file.
    const FileData context = FileData::Placeholder();
    std::string path = FileName().empty() ? std::string() : ExpandRecord(context, FileName());
    if (path.empty()) {
        path = platform::CurrentDirectory();
    }
    if (path.back() != platform::kPathSeparator) {
        path += platform::kPathSeparator;
    }
    std::string masks[4] = {
        ExpandRecord(context, m_mask->Value()), ExpandRecord(context, m_excludeMask->Value()),
        ExpandRecord(context, m_dirMask->Value()), ExpandRecord(context, m_exclDirMask->Value())};
    m_masks.Compile(masks[0]);
    m_excludeMasks.Compile(masks[1]);
    m_dirMasks.Compile(masks[2]);
    m_exclDirMasks.Compile(masks[3]);
    // Masks made of macros may expand otherwise now: the old snapshot then
    // says nothing about what the walk would take.
    std::string walk = path;
    for (const std::string& m : masks) {
        walk += '\0';
        walk += m;
    }
    const bool sameWalk = walk == m_lastWalk;
    m_lastWalk = std::move(walk);
    const bool notified = m_notified.exchange(false, std::memory_order_acq_rel);
    const bool wholeAsked = m_wholeNext.exchange(false, std::memory_order_acq_rel);
    if (path != LastPath()) {
        LastPath() = path;
        SetResetFlag(true);
        RestartWatcher(path);
    } else if (m_watcher && (!m_realTime->Value() || m_subdir->Value() != m_watchedSubtree ||
                             m_dirMonitoring->Value() != m_watchedDirectoryNames)) {
        // Settings edited while running: the watcher follows them.
        RestartWatcher(path);
    } else if (m_realTime->Value() && !Watching()) {
        // The watcher ends when its directory goes away, and cannot start
        // while it is missing: watch again once the directory is back.
        if (const auto info = platform::Stat(path); info && info->isDirectory) {
            RestartWatcher(path);
        }
    }

    const bool baseline = ResetRequested() && !m_fromCache;
    SetResetFlag(false);
    m_fromCache = false;

    if (m_checkExistingOnly->Value()) {
        const auto info = platform::Stat(path);
        if (!info || !info->isDirectory) {
            SetState(ItemState::NotFound);
            return false;
        }
    }

    SetState(ItemState::Unknown);
    NotifyStatus();
    SetState(ItemState::Ok);

    const std::string conditions = m_conditions->Value();
    DirScanRules rules;
    rules.masks = &m_masks;
    rules.excludeMasks = &m_excludeMasks;
    rules.dirMasks = &m_dirMasks;
    rules.exclDirMasks = &m_exclDirMasks;
    rules.condition = Condition();
    rules.fullPathMask = m_fullPathMask->Value();
    rules.dirMonitoring = m_dirMonitoring->Value();
    rules.subdir = m_subdir->Value();
    rules.countHidden = m_countHidden->Value();
    rules.keepNames = m_storePrevInfo->Value() && rules.condition == ConditionType::StatusChanges;
    rules.ignoreAdded = m_ignoreAdded->Value();
    rules.ignoreOpened = m_ignoreOpened->Value();
    rules.breakFirst = m_break->Value();
    const bool age = rules.condition == ConditionType::OldFiles;
    rules.watchChanged = Flag(conditions, 0) || Flag(conditions, 3) || age;
    rules.watchAdded = Flag(conditions, 1) || Flag(conditions, 3) || age;
    rules.limitDays = m_olderInterval->Value() / DateTime::kSecondsPerDay;

    // The set of watched directories follows the set of directories walked:
    // a walk adds the missing watches and drops those of directories gone.
    ChangeNotifyThread* watcher = m_watcher.get();  // changed on this thread only
    platform::ChangeSet changes;
    if (watcher != nullptr) {
        changes = watcher->TakeChanges();  // this walk sees everything up to now
    }
    // A check brought forward by a notification reads only the directories
    // it named, when nothing may have escaped it; every other check reads
    // the whole tree.
    const bool incremental = notified && !wholeAsked && !DueCheck() && !baseline &&
                             watcher != nullptr && IncrementalAllowed(rules) &&
                             !changes.incomplete && !changes.rootGone && sameWalk &&
                             !m_snapshot.Directories().empty();

    // A real-time item checks often: the new snapshot reuses the room of the
    // one before the last, with some headroom, so that a few new files
    // neither move the columns while they grow nor have Trim move them
    // back: both would copy the whole snapshot into fresh pages. Other
    // items keep no spare and get the room they had.
    Snapshot fresh = std::move(m_spare);
    fresh.Clear();
    if (!baseline) {
        const std::size_t size = m_snapshot.Size();
        fresh.Reserve(m_realTime->Value() ? size + size / 16 + 256 : size);
    }
    DirScan scan(
        rules, m_snapshot, fresh, Files(), now, baseline,
        [this] { return StopRequested() || ResetRequested(); }, watcher, path);
    if (incremental) {
        // What may have changed unannounced is looked at again every time.
        DirScan::AddVolatile(changes, m_volatile);
        scan.WalkChanged(changes);
        m_incrementalChecks.fetch_add(1, std::memory_order_acq_rel);
    } else {
        if (watcher != nullptr) {
            watcher->BeginWalk();
        }
        scan.SetWalkers(Options::Instance().Walkers());
        scan.WalkWhole();
    }
    if (scan.Reported()) {
        SetState(ItemState::Triggered);
    }

    bool fulfilled = false;
    const bool interrupted = ResetRequested() || StopRequested();
    if (watcher != nullptr && !incremental) {
        watcher->EndWalk(!interrupted);
    }
    if (watcher != nullptr) {
        if (const std::string problem = watcher->Problem(); !problem.empty()) {
            NoteRealTimeProblem("Changes below \"" + path + "\" may pass unseen: " + problem +
                                "; every check reads the whole tree");
        }
    }
    if (!interrupted) {
        if (Condition() == ConditionType::StatusChanges && !baseline) {
            const std::string& c = conditions;
            if ((Flag(c, 2) || Flag(c, 3)) && scan.DeletedCount() > 0) {
                SetState(ItemState::Triggered);
                if (m_storePrevInfo->Value()) {
                    bool first = true;
                    scan.ForEachDeleted([&](std::size_t i) {
                        if (m_break->Value() && !first) {
                            return;
                        }
                        first = false;
                        const std::string* name = m_snapshot.NameAt(i);
                        Files().emplace_back(
                            name ? std::optional<std::string>(*name) : std::nullopt,
                            DateTime(m_snapshot.TimeAt(i)), m_snapshot.SizeAt(i),
                            FileKind::Deleted);
                    });
                }
            }
            if (m_inverse->Value()) {
                SetState(State() == ItemState::Ok ? ItemState::Triggered : ItemState::Ok);
            }
        }
        fulfilled = State() == ItemState::Triggered;
    }

    m_volatile = scan.TakeVolatile();
    fresh.Trim();
    std::swap(m_snapshot, fresh);
    if (m_realTime->Value()) {
        m_spare = std::move(fresh);
    }
    m_snapshotSize.store(m_snapshot.Size(), std::memory_order_release);

    if (!interrupted && !ResetRequested() && !StopRequested()) {
        // Written once the actions have run (AfterCheck): a kill before they
        // end then finds the previous cache and reports the changes again
        // instead of losing them.
        m_cachePending = m_cacheData->Value();
        m_completed.fetch_add(1, std::memory_order_acq_rel);
    }
    return fulfilled;
}

void CheckDirThread::AfterCheck(bool chainCompleted) {
    if (!m_cachePending) {
        return;
    }
    m_cachePending = false;
    if (!chainCompleted) {
        return;
    }
    std::string error;
    const bool written =
        cache_file::Write(m_cacheDirectory->Value(), m_cacheId->Value(), m_snapshot, &error);
    // Said once when writing starts to fail, not at every check after.
    if (!written && !m_cacheFailing) {
        LogError(error + "; the next check tries again");
    }
    m_cacheFailing = !written;
}

}  // namespace quorvel
