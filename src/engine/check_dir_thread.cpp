#include "engine/check_dir_thread.h"

#include <cmath>

#include "actions/macro_expander.h"
#include "engine/cache_file.h"
#include "platform/directory_scanner.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/paths.h"

namespace quorvel {

namespace {

// Converts file times to local date-times the way DateTime::FromEpoch does,
// but asks the system for the UTC offset only once per quarter hour of file
// times seen: a scan converts every entry's time.
class LocalTimeConverter {
public:
    DateTime Convert(platform::EpochTime t) {
        const std::int64_t bucket = FloorDiv(t.seconds, kBucket);
        Slot& slot = m_slots[static_cast<std::size_t>(bucket) & (kSlots - 1)];
        std::int64_t offset;
        if (slot.valid && slot.bucket == bucket) {
            offset = slot.offset;
        } else {
            const std::int64_t start = bucket * kBucket;
            const std::int64_t first = platform::UtcOffsetAt(start);
            const std::int64_t last = platform::UtcOffsetAt(start + kBucket - 1);
            if (first == last) {
                slot = Slot{bucket, first, true};
                offset = first;
            } else {
                offset = platform::UtcOffsetAt(t.seconds);  // an offset change inside
            }
        }
        const std::int64_t local = t.seconds + offset;
        std::int64_t days = local / 86400;
        std::int64_t seconds = local % 86400;
        if (seconds < 0) {
            seconds += 86400;
            --days;
        }
        return DateTime(DateTime::kUnixEpochDays + static_cast<double>(days) +
                        (static_cast<double>(seconds) + t.nanoseconds * 1e-9) /
                            DateTime::kSecondsPerDay);
    }

private:
    static constexpr std::int64_t kBucket = 900;
    static constexpr std::size_t kSlots = 256;
    static std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
        return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
    }
    struct Slot {
        std::int64_t bucket = 0;
        std::int64_t offset = 0;
        bool valid = false;
    };
    Slot m_slots[kSlots];
};

bool Flag(const std::string& conditions, std::size_t position) {
    return conditions.size() > position && conditions[position] == '1';
}

}  // namespace

// ---- the scan of one check ----

class CheckDirThread::Scan : public platform::DirectoryScanner::Visitor {
public:
    /// watcher, when given, is made to watch every directory the walk enters
    /// (rootLength: the length of the walked path with its separator).
    Scan(CheckDirThread& item, Snapshot& fresh, bool baseline, DateTime now,
         ChangeNotifyThread* watcher, std::size_t rootLength)
        : m_item(item),
          m_watcher(watcher),
          m_rootLength(rootLength),
          m_old(item.m_snapshot),
          m_fresh(fresh),
          m_baseline(baseline),
          m_now(now.Days()),
          m_conditionType(item.Condition()),
          m_fullPathMask(item.m_fullPathMask->Value()),
          m_dirMonitoring(item.m_dirMonitoring->Value()),
          m_subdir(item.m_subdir->Value()),
          m_countHidden(item.m_countHidden->Value()),
          m_keepNames(item.m_storePrevInfo->Value() &&
                      item.Condition() == ConditionType::StatusChanges),
          m_ignoreAdded(item.m_ignoreAdded->Value()),
          m_ignoreOpened(item.m_ignoreOpened->Value()),
          m_break(item.m_break->Value()),
          m_limit(item.m_olderInterval->Value() / DateTime::kSecondsPerDay) {
        const std::string& c = item.m_conditions->Value();
        const bool any = Flag(c, 3);
        const bool age = m_conditionType == ConditionType::OldFiles;
        m_watchChanged = Flag(c, 0) || any || age;
        m_watchAdded = Flag(c, 1) || any || age;
        if (m_ignoreOpened) {
            m_writers = platform::OpenWriters::Capture();
        }
    }

    bool ShouldStop() override { return m_item.StopRequested() || m_item.ResetRequested(); }

    bool Enter(platform::ScanEntry& e) override {
        if (!m_subdir || Hidden(e)) {
            return false;
        }
        const std::string_view target = Target(e);
        if (!m_item.m_dirMasks.Matches(target) || m_item.m_exclDirMasks.Matches(target)) {
            return false;
        }
        // Watched before its entries are read, so no change in it is missed.
        if (m_watcher != nullptr) {
            m_watcher->EnsureWatched(e.FullPath().substr(m_rootLength), e);
        }
        return true;
    }

    void Visit(platform::ScanEntry& e) override {
        if (Hidden(e)) {
            return;
        }
        const bool directory =
            e.IsRealDirectory() || (e.IsSymlink() && e.Resolve() && e.IsDirectory());
        if (directory && !m_dirMonitoring) {
            return;
        }
        const std::string_view target = Target(e);
        if (!m_item.m_masks.Matches(target) || m_item.m_excludeMasks.Matches(target)) {
            return;
        }
        if (!e.Resolve()) {
            return;  // gone since it was listed
        }
        const std::uint32_t key = PathKey(e.FullPath());
        const double time = m_times.Convert(e.Modified()).Days();
        if (m_keepNames) {
            m_fresh.Append(key, time, e.Size(), e.FullPath());
        } else {
            m_fresh.Append(key, time, e.Size());
        }
        const std::size_t index = m_fresh.Size() - 1;

        if (m_ignoreOpened && !e.IsDirectory() && InUse(e)) {
            // Passed over this time; a new or changed file is seen as changed
            // by a later check.
            const FileKind r = Compare(index);
            if (r != FileKind::None && m_conditionType == ConditionType::StatusChanges) {
                m_fresh.SetTime(index, 0.0);
            } else if (r == FileKind::Added && m_conditionType == ConditionType::OldFiles &&
                       m_ignoreAdded && !m_baseline) {
                m_fresh.SetTime(index, m_now);  // its age counts from now
            }
            return;
        }

        if (m_break && !m_item.Files().empty()) {
            Defer(index);
            return;
        }

        FileKind r = FileKind::None;
        if (m_conditionType == ConditionType::StatusChanges) {
            r = m_baseline ? FileKind::None : Compare(index);
        } else {
            r = AgeTest(index);
        }
        if (r != FileKind::None) {
            m_item.SetState(ItemState::Triggered);
            m_item.Files().emplace_back(std::string(e.FullPath()), DateTime(m_fresh.TimeAt(index)),
                                        m_fresh.SizeAt(index), r);
        }
    }

private:
    bool Hidden(const platform::ScanEntry& e) const {
        return !m_countHidden && !e.Name().empty() && e.Name().front() == '.';
    }

    std::string_view Target(const platform::ScanEntry& e) const {
        return m_fullPathMask ? e.FullPath() : e.Name();
    }

    bool InUse(platform::ScanEntry& e) {
        if (m_writers.Contains(e.Device(), e.Inode())) {
            return true;
        }
        return platform::HasConflictingLock(std::string(e.FullPath()));
    }

    // None when unchanged (or not watched), else Added or Changed.
    FileKind Compare(std::size_t index) {
        if (ShouldStop()) {
            return FileKind::None;
        }
        const std::size_t old = m_old.TakeFirst(m_fresh.KeyAt(index));
        if (old == Snapshot::npos) {
            return m_watchAdded ? FileKind::Added : FileKind::None;
        }
        const bool differs = m_old.TimeAt(old) != m_fresh.TimeAt(index) ||
                             m_old.SizeAt(old) != m_fresh.SizeAt(index);
        if (m_watchChanged && differs) {
            if (m_conditionType == ConditionType::OldFiles) {
                m_fresh.SetTime(index, m_old.TimeAt(old));
            }
            return FileKind::Changed;
        }
        return FileKind::None;
    }

    // Old when older than the limit, else None.
    FileKind AgeTest(std::size_t index) {
        if (!(m_now - m_fresh.TimeAt(index) > m_limit)) {
            return FileKind::None;
        }
        if (!m_ignoreAdded || m_baseline) {
            return FileKind::Old;
        }
        const FileKind r = Compare(index);
        if (r == FileKind::Added) {
            m_fresh.SetTime(index, m_now);  // first seen now
            return FileKind::None;
        }
        if (r == FileKind::Changed) {
            return m_now - m_fresh.TimeAt(index) > m_limit ? FileKind::Old : FileKind::None;
        }
        return FileKind::Old;
    }

    // With "Break" only the first file is reported. The others are left for
    // a later check: a file the previous check knew keeps its old data (so
    // its change is still seen), a new one is not recorded (so it is still
    // new), and neither counts as deleted.
    void Defer(std::size_t index) {
        if (m_baseline || ShouldStop()) {
            return;
        }
        const std::size_t old = m_old.TakeFirst(m_fresh.KeyAt(index));
        if (old != Snapshot::npos) {
            m_fresh.SetTime(index, m_old.TimeAt(old));
            m_fresh.SetSize(index, m_old.SizeAt(old));
        } else {
            m_fresh.PopBack();
        }
    }

    CheckDirThread& m_item;
    ChangeNotifyThread* m_watcher;
    std::size_t m_rootLength;
    Snapshot& m_old;
    Snapshot& m_fresh;
    const bool m_baseline;
    const double m_now;
    const ConditionType m_conditionType;
    const bool m_fullPathMask;
    const bool m_dirMonitoring;
    const bool m_subdir;
    const bool m_countHidden;
    const bool m_keepNames;
    const bool m_ignoreAdded;
    const bool m_ignoreOpened;
    const bool m_break;
    const double m_limit;
    bool m_watchChanged = false;
    bool m_watchAdded = false;
    platform::OpenWriters m_writers;
    LocalTimeConverter m_times;
};

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
    StopWatcher();
}

void CheckDirThread::ApplySettings() {
    BaseMonitoring::ApplySettings();
    if (m_cacheId->Value().empty()) {
        m_cacheId->SetFromString(cache_file::NewId());
    }
}

void CheckDirThread::CheckNow(bool resumeIfPaused) {
    if (resumeIfPaused) {
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

void CheckDirThread::Execute() {
    if (m_cacheData->Value()) {
        if (auto contents = cache_file::Read(CachePath())) {
            m_snapshot = std::move(contents->snapshot);
            m_snapshotSize.store(m_snapshot.Size(), std::memory_order_release);
            m_fromCache = true;
            if (contents->recordWithoutName) {
                // Some cached entries carry no name to report their deletion
                // with, and a deletion never reaches the actions nameless.
                m_storePrevInfo->SetValue(false);
            }
        }
    }
    BaseMonitoring::Execute();
}

void CheckDirThread::StopWatcher() {
    std::unique_ptr<ChangeNotifyThread> watcher;
    {
        std::lock_guard lock(m_watcherMutex);
        watcher = std::move(m_watcher);
    }
    watcher.reset();  // stops it, waiting at most 100 ms
}

void CheckDirThread::RestartWatcher(const std::string& path) {
    StopWatcher();
    if (!m_realTime->Value()) {
        return;
    }
    m_watchedSubtree = m_subdir->Value();
    m_watchedDirectoryNames = m_dirMonitoring->Value();
    auto watcher = ChangeNotifyThread::Start(path, m_watchedSubtree, m_watchedDirectoryNames,
                                             [this] { CheckNow(false); });
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
    m_masks.Compile(ExpandRecord(context, m_mask->Value()));
    m_excludeMasks.Compile(ExpandRecord(context, m_excludeMask->Value()));
    m_dirMasks.Compile(ExpandRecord(context, m_dirMask->Value()));
    m_exclDirMasks.Compile(ExpandRecord(context, m_exclDirMask->Value()));
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

    Snapshot fresh;
    if (!baseline) {
        fresh.Reserve(m_snapshot.Size());
    }
    m_snapshot.BeginLookups();
    // The set of watched directories follows the set of directories walked:
    // the walk adds the missing watches, and drops those of directories gone.
    ChangeNotifyThread* watcher = m_watcher.get();  // changed on this thread only
    if (watcher != nullptr) {
        (void)watcher->TakeChanges();  // this walk sees everything up to now
        watcher->BeginWalk();
    }
    {
        Scan scan(*this, fresh, baseline, now, watcher, path.size());
        platform::DirectoryScanner::Scan(path, scan);
    }

    bool fulfilled = false;
    const bool interrupted = ResetRequested() || StopRequested();
    if (watcher != nullptr) {
        watcher->EndWalk(!interrupted);
    }
    if (!interrupted) {
        if (Condition() == ConditionType::StatusChanges && !baseline) {
            const std::string& c = m_conditions->Value();
            if ((Flag(c, 2) || Flag(c, 3)) && m_snapshot.LeftCount() > 0) {
                SetState(ItemState::Triggered);
                if (m_storePrevInfo->Value()) {
                    bool first = true;
                    m_snapshot.ForEachLeft([&](std::size_t i) {
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

    fresh.Trim();
    m_snapshot = std::move(fresh);
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
    if (chainCompleted) {
        cache_file::Write(m_cacheDirectory->Value(), m_cacheId->Value(), m_snapshot);
    }
}

}  // namespace quorvel
