#include "engine/dir_scan.h"

#include <algorithm>

#include "engine/change_notify_thread.h"
#include "platform/change_notifier.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/scan_pool.h"

namespace quorvel {

// Converts file times to local date-times the way DateTime::FromEpoch does,
// but asks the system for the UTC offset only once per quarter hour of file
// times seen: a walk converts every entry's time.
class DirScan::TimeConverter {
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

DirScan::DirScan(const DirScanRules& rules, Snapshot& old, Snapshot& fresh, FileList& files,
                 DateTime now, bool baseline, std::function<bool()> stop,
                 ChangeNotifyThread* watcher, std::string root)
    : m_rules(rules),
      m_old(old),
      m_fresh(fresh),
      m_files(files),
      m_now(now.Days()),
      m_baseline(baseline),
      m_stop(std::move(stop)),
      m_watcher(watcher),
      m_root(std::move(root)),
      m_times(std::make_unique<TimeConverter>()) {
    if (m_rules.ignoreOpened) {
        m_writers = platform::OpenWriters::Capture();
    }
}

DirScan::~DirScan() = default;

std::size_t DirScan::DeletedCount() const {
    return m_incremental ? m_deleted.size() : m_old.LeftCount();
}

// ---- what every walk does with an entry ----

bool DirScan::Hidden(const platform::ScanEntry& e) const {
    return !m_rules.countHidden && e.IsHidden();
}

std::string_view DirScan::Target(const platform::ScanEntry& e) const {
    return m_rules.fullPathMask ? e.FullPath() : e.Name();
}

bool DirScan::Enterable(const platform::ScanEntry& e) const {
    if (!m_rules.subdir || Hidden(e)) {
        return false;
    }
    const std::string_view target = Target(e);
    return m_rules.dirMasks->Matches(target) && !m_rules.exclDirMasks->Matches(target);
}

bool DirScan::InUse(platform::ScanEntry& e) {
    if (m_writers.Contains(e.Device(), e.Inode())) {
        return true;
    }
    return platform::HasConflictingLock(std::string(e.FullPath()));
}

bool DirScan::ShouldStop() {
    return !m_incremental && m_stop && m_stop();
}

bool DirScan::Enter(platform::ScanEntry& e) {
    if (!Enterable(e)) {
        return false;
    }
    const std::int32_t parent = m_open.back().record;
    if (m_incremental) {
        Frame& frame = m_frames.back();
        const std::int32_t oldChild = frame.old >= 0 ? m_old.FindChild(frame.old, e.Name()) : -1;
        if (oldChild >= 0) {
            frame.childrenMet.push_back(oldChild);
        }
        if (oldChild >= 0 && !frame.forced && !MustRead(oldChild)) {
            // Unchanged itself: taken from the old snapshot, not read.
            if (HoldsChanges(oldChild)) {
                EmitOldLayout(oldChild, parent, std::string(e.FullPath()));
            } else {
                m_fresh.AppendSubtree(m_old, oldChild, parent);
            }
            m_lastClosed = m_fresh.Directory(parent).lastChild;
            m_lastClosedPath = std::string(e.FullPath());
            return false;
        }
        const std::int32_t record = m_fresh.OpenDirectory(parent, e.Name());
        m_open.push_back({std::string(e.FullPath()), record});
        const bool forced =
            frame.forced || (oldChild >= 0 && m_read[static_cast<std::size_t>(oldChild)] == 2);
        OpenFrame(oldChild, record, std::string(e.FullPath()), forced);
        if (oldChild >= 0 && !forced) {
            m_frames.back().names = m_names[static_cast<std::size_t>(oldChild)];
        }
        return true;
    }
    m_open.push_back({std::string(e.FullPath()), m_fresh.OpenDirectory(parent, e.Name())});
    return true;
}

bool DirScan::MayEnter(const platform::ScanEntry& e) const {
    // Enter answers false whenever this does.
    return Enterable(e);
}

void DirScan::BeforeRead(platform::ScanEntry& e) {
    // Watched before its entries are read, so no change in it is missed.
    if (m_watcher != nullptr) {
        m_watcher->EnsureWatched(e.FullPath().substr(m_root.size()), e);
    }
}

void DirScan::Visit(platform::ScanEntry& e) {
    // The entry of a directory that was entered comes right after its
    // subtree: the directory is complete.
    if (m_open.size() > 1 && m_open.back().path == e.FullPath()) {
        m_fresh.CloseDirectory(m_open.back().record);
        m_lastClosed = m_open.back().record;
        m_lastClosedPath = std::move(m_open.back().path);
        m_open.pop_back();
        if (m_incremental) {
            CloseFrame();
        }
    }
    const bool ownEntry = m_lastClosed >= 0 && m_lastClosedPath == e.FullPath();
    const std::int32_t closed = m_lastClosed;
    m_lastClosed = -1;

    if (Hidden(e)) {
        return;
    }
    const bool directory = e.IsRealDirectory() || (e.IsSymlink() && e.Resolve() && e.IsDirectory());
    if (directory && !m_rules.dirMonitoring) {
        return;
    }
    const std::string_view target = Target(e);
    if (!m_rules.masks->Matches(target) || m_rules.excludeMasks->Matches(target)) {
        return;
    }
    if (m_incremental && TakeUnchanged(e, ownEntry, closed)) {
        return;
    }
    if (!e.Resolve()) {
        return;  // gone since it was listed
    }
    const std::uint32_t key = PathKey(e.FullPath());
    const double time = m_times->Convert(e.Modified()).Days();
    if (ownEntry) {
        m_fresh.MarkOwnEntry(closed);
    }
    if (m_rules.keepNames) {
        m_fresh.Append(key, time, e.Size(), e.FullPath());
    } else {
        m_fresh.Append(key, time, e.Size());
    }
    const std::size_t index = m_fresh.Size() - 1;
    if (e.IsSymlink() || (e.IsRealDirectory() && !ownEntry) ||
        (!e.IsDirectory() && e.LinkCount() > 1)) {
        m_volatile.emplace_back(e.FullPath().substr(m_root.size()));
    }

    if (m_rules.ignoreOpened && !e.IsDirectory() && InUse(e)) {
        // Passed over this time; a new or changed file is seen as changed
        // by a later check.
        const FileKind r = Compare(index);
        if (r != FileKind::None && m_rules.condition == ConditionType::StatusChanges) {
            m_fresh.SetTime(index, 0.0);
        } else if (r == FileKind::Added && m_rules.condition == ConditionType::OldFiles &&
                   m_rules.ignoreAdded && !m_baseline) {
            m_fresh.SetTime(index, m_now);  // its age counts from now
        }
        return;
    }

    if (m_rules.breakFirst && !m_files.empty()) {
        Defer(index);
        return;
    }

    FileKind r = FileKind::None;
    if (m_rules.condition == ConditionType::StatusChanges) {
        r = m_baseline ? FileKind::None : Compare(index);
    } else {
        r = AgeTest(index);
    }
    if (r != FileKind::None) {
        Report(std::string(e.FullPath()), index, r);
    }
}

bool DirScan::TakeUnchanged(platform::ScanEntry& e, bool ownEntry, std::int32_t closed) {
    Frame& frame = m_frames.back();
    // An entry the notification did not name is as it was: no need to look
    // at it. A link is always looked at (its target may live elsewhere), and
    // so is a directory whose own entries changed (its time did too).
    if (frame.old < 0 || frame.forced || frame.names == nullptr || e.IsSymlink() ||
        frame.names->count(std::string(e.Name())) != 0) {
        return false;
    }
    if (e.IsRealDirectory()) {
        const std::int32_t child = m_old.FindChild(frame.old, e.Name());
        if (child >= 0 && MustRead(child)) {
            return false;
        }
    }
    const std::uint32_t key = PathKey(e.FullPath());
    const std::size_t old = TakeOld(key);
    if (old == Snapshot::npos) {
        return false;  // new to us after all: looked at as usual
    }
    if (ownEntry) {
        m_fresh.MarkOwnEntry(closed);
    }
    if (m_rules.keepNames) {
        m_fresh.Append(key, m_old.TimeAt(old), m_old.SizeAt(old), e.FullPath());
    } else {
        m_fresh.Append(key, m_old.TimeAt(old), m_old.SizeAt(old));
    }
    return true;
}

void DirScan::Report(std::string name, std::size_t index, FileKind kind) {
    m_reported = true;
    m_files.emplace_back(std::move(name), DateTime(m_fresh.TimeAt(index)), m_fresh.SizeAt(index),
                         kind);
}

std::size_t DirScan::TakeOld(std::uint32_t key) {
    if (!m_incremental) {
        return m_old.TakeFirst(key);
    }
    auto& entries = m_frames.back().entries;
    auto it = entries.find(key);
    if (it == entries.end()) {
        return Snapshot::npos;
    }
    // The first of several entries with one key, as the whole walk takes it.
    auto range = entries.equal_range(key);
    auto first = std::min_element(range.first, range.second,
                                  [](const auto& a, const auto& b) { return a.second < b.second; });
    const std::size_t index = first->second;
    entries.erase(first);
    return index;
}

// None when unchanged (or not watched), else Added or Changed.
FileKind DirScan::Compare(std::size_t index) {
    if (ShouldStop()) {
        return FileKind::None;
    }
    const std::size_t old = TakeOld(m_fresh.KeyAt(index));
    if (old == Snapshot::npos) {
        return m_rules.watchAdded ? FileKind::Added : FileKind::None;
    }
    const bool differs =
        m_old.TimeAt(old) != m_fresh.TimeAt(index) || m_old.SizeAt(old) != m_fresh.SizeAt(index);
    if (m_rules.watchChanged && differs) {
        if (m_rules.condition == ConditionType::OldFiles) {
            m_fresh.SetTime(index, m_old.TimeAt(old));
        }
        return FileKind::Changed;
    }
    return FileKind::None;
}

// Old when older than the limit, else None.
FileKind DirScan::AgeTest(std::size_t index) {
    if (!(m_now - m_fresh.TimeAt(index) > m_rules.limitDays)) {
        return FileKind::None;
    }
    if (!m_rules.ignoreAdded || m_baseline) {
        return FileKind::Old;
    }
    const FileKind r = Compare(index);
    if (r == FileKind::Added) {
        m_fresh.SetTime(index, m_now);  // first seen now
        return FileKind::None;
    }
    if (r == FileKind::Changed) {
        return m_now - m_fresh.TimeAt(index) > m_rules.limitDays ? FileKind::Old : FileKind::None;
    }
    return FileKind::Old;
}

// With "Break" only the first file is reported. The others are left for a
// later check: a file the previous check knew keeps its old data (so its
// change is still seen), a new one is not recorded (so it is still new), and
// neither counts as deleted.
void DirScan::Defer(std::size_t index) {
    if (m_baseline || ShouldStop()) {
        return;
    }
    const std::size_t old = TakeOld(m_fresh.KeyAt(index));
    if (old != Snapshot::npos) {
        m_fresh.SetTime(index, m_old.TimeAt(old));
        m_fresh.SetSize(index, m_old.SizeAt(old));
    } else {
        m_fresh.PopBack();
    }
}

void DirScan::AddVolatile(platform::ChangeSet& changes, const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    // Directories already named without names: every entry is looked at.
    std::unordered_set<std::string> everyEntry;
    for (const std::string& d : changes.directories) {
        if (changes.names.count(d) == 0) {
            everyEntry.insert(d);
        }
    }
    for (const std::string& path : entries) {
        const std::size_t slash = path.rfind(platform::kPathSeparator);
        std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (everyEntry.count(directory) != 0) {
            continue;
        }
        auto [it, fresh] = changes.names.try_emplace(directory);
        if (fresh) {
            changes.directories.push_back(directory);
        }
        it->second.insert(std::move(name));
    }
}

// ---- the whole walk ----

void DirScan::WalkWhole() {
    m_incremental = false;
    m_old.BeginLookups();
    m_open.clear();
    m_open.push_back({std::string(), m_fresh.OpenDirectory(-1, "")});
    platform::ScanPool::Process().Scan(m_root, *this, m_walkers);
    while (!m_open.empty()) {
        m_fresh.CloseDirectory(m_open.back().record);
        m_open.pop_back();
    }
}

// ---- the walk of the changes ----

bool DirScan::MustRead(std::int32_t oldRecord) const {
    return m_read[static_cast<std::size_t>(oldRecord)] != 0;
}

bool DirScan::HoldsChanges(std::int32_t oldRecord) const {
    return m_touched[static_cast<std::size_t>(oldRecord)] != 0;
}

void DirScan::WalkChanged(const platform::ChangeSet& changes) {
    m_incremental = true;
    const std::size_t records = m_old.Directories().size();
    m_read.assign(records, 0);
    m_touched.assign(records, 0);
    m_names.assign(records, nullptr);
    std::vector<std::uint8_t> everyEntry(records, 0);
    // A directory the snapshot does not know is read as part of the nearest
    // one it knows.
    auto known = [&](std::string path) {
        for (;;) {
            const std::int32_t r = m_old.FindDirectory(path);
            if (r >= 0 || path.empty()) {
                return r;
            }
            const std::size_t slash = path.rfind('/');
            path = slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
    };
    auto mark = [&](std::int32_t r, std::uint8_t how) {
        if (r < 0) {
            return;
        }
        m_read[static_cast<std::size_t>(r)] = std::max(m_read[static_cast<std::size_t>(r)], how);
        for (std::int32_t up = r; up >= 0 && !m_touched[static_cast<std::size_t>(up)];
             up = m_old.Directory(up).parent) {
            m_touched[static_cast<std::size_t>(up)] = 1;
        }
    };
    for (const std::string& d : changes.directories) {
        const std::int32_t r = known(d);
        mark(r, 1);
        if (r < 0) {
            continue;
        }
        auto names = changes.names.find(d);
        if (names == changes.names.end() || m_old.RelativePath(r) != d) {
            everyEntry[static_cast<std::size_t>(r)] = 1;  // changes below a directory it lacks
        } else if (!everyEntry[static_cast<std::size_t>(r)]) {
            m_names[static_cast<std::size_t>(r)] = &names->second;
        }
    }
    for (const std::string& d : changes.newSubtrees) {
        const std::int32_t r = m_old.FindDirectory(d);
        if (r >= 0) {
            mark(r, 2);  // whatever it holds now is new to us
        }
        const std::size_t slash = d.rfind('/');
        const std::string parent = slash == std::string::npos ? std::string() : d.substr(0, slash);
        const std::int32_t p = known(parent);
        mark(p, 1);
        if (p >= 0 && (m_old.RelativePath(p) != parent || !m_names[static_cast<std::size_t>(p)])) {
            everyEntry[static_cast<std::size_t>(p)] = 1;
        }
    }
    for (std::size_t r = 0; r < records; ++r) {
        if (everyEntry[r] || m_read[r] == 2) {
            m_names[r] = nullptr;
        }
    }

    m_open.clear();
    m_frames.clear();
    std::string rootPath = m_root;
    if (rootPath.size() > 1 && rootPath.back() == platform::kPathSeparator) {
        rootPath.pop_back();
    }
    Emit(0, -1, rootPath);
    std::sort(m_deleted.begin(), m_deleted.end());
}

void DirScan::Emit(std::int32_t oldRecord, std::int32_t freshParent, const std::string& path) {
    if (MustRead(oldRecord)) {
        ReadDirectory(oldRecord, freshParent, path,
                      m_read[static_cast<std::size_t>(oldRecord)] == 2);
    } else if (HoldsChanges(oldRecord)) {
        EmitOldLayout(oldRecord, freshParent, path);
    } else {
        m_fresh.AppendSubtree(m_old, oldRecord, freshParent);
    }
}

void DirScan::EmitOldLayout(std::int32_t oldRecord, std::int32_t freshParent,
                            const std::string& path) {
    const DirRecord& r = m_old.Directory(oldRecord);
    const std::int32_t record = m_fresh.OpenDirectory(freshParent, r.name);
    std::uint32_t p = r.begin;
    for (std::int32_t c = r.firstChild; c >= 0; c = m_old.Directory(c).nextSibling) {
        const DirRecord& child = m_old.Directory(c);
        m_fresh.AppendTaken(m_old, p, child.begin);
        const std::string childPath = path + platform::kPathSeparator + child.name;
        Emit(c, record, childPath);
        const std::int32_t made = m_fresh.Directory(record).lastChild;
        p = child.end;
        if (child.ownEntry) {
            if (MustRead(c)) {
                // Its entries changed, so its own time did too.
                RestatOwnEntry(c, childPath, made);
            } else {
                m_fresh.MarkOwnEntry(made);
                m_fresh.AppendTaken(m_old, p);
            }
            ++p;
        }
    }
    m_fresh.AppendTaken(m_old, p, r.end);
    m_fresh.CloseDirectory(record);
}

void DirScan::ReadDirectory(std::int32_t oldRecord, std::int32_t freshParent,
                            const std::string& path, bool forced) {
    const std::int32_t record =
        m_fresh.OpenDirectory(freshParent, oldRecord > 0 ? m_old.Directory(oldRecord).name : "");
    m_open.push_back({path, record});
    OpenFrame(oldRecord, record, path, forced);
    m_frames.back().names = m_names[static_cast<std::size_t>(oldRecord)];
    platform::DirectoryScanner::Scan(oldRecord == 0 ? m_root : path + platform::kPathSeparator,
                                     *this);
    // The walk does not visit the directory it started at.
    m_fresh.CloseDirectory(record);
    m_open.pop_back();
    CloseFrame();
}

void DirScan::OpenFrame(std::int32_t oldRecord, std::int32_t fresh, std::string path, bool forced) {
    Frame frame;
    frame.path = std::move(path);
    frame.fresh = fresh;
    frame.old = oldRecord;
    frame.forced = forced;
    if (oldRecord >= 0) {
        // The old directory's own entries: its run without its children's runs.
        const DirRecord& r = m_old.Directory(oldRecord);
        std::uint32_t p = r.begin;
        auto add = [&](std::uint32_t to) {
            for (; p < to; ++p) {
                frame.entries.emplace(m_old.KeyAt(p), p);
            }
        };
        for (std::int32_t c = r.firstChild; c >= 0; c = m_old.Directory(c).nextSibling) {
            add(m_old.Directory(c).begin);
            p = m_old.Directory(c).end;
        }
        add(r.end);
    }
    m_frames.push_back(std::move(frame));
}

void DirScan::CloseFrame() {
    Frame& frame = m_frames.back();
    for (const auto& [key, index] : frame.entries) {
        m_deleted.push_back(index);
    }
    if (frame.old >= 0) {
        for (std::int32_t c = m_old.Directory(frame.old).firstChild; c >= 0;
             c = m_old.Directory(c).nextSibling) {
            if (std::find(frame.childrenMet.begin(), frame.childrenMet.end(), c) ==
                frame.childrenMet.end()) {
                DeleteSubtree(c);
                if (m_watcher != nullptr) {
                    m_watcher->Unwatch(m_old.RelativePath(c));
                }
            }
        }
    }
    m_frames.pop_back();
}

void DirScan::DeleteSubtree(std::int32_t oldRecord) {
    const DirRecord& r = m_old.Directory(oldRecord);
    for (std::uint32_t i = r.begin; i < r.end; ++i) {
        m_deleted.push_back(i);
    }
}

void DirScan::RestatOwnEntry(std::int32_t oldRecord, const std::string& path,
                             std::int32_t freshRecord) {
    const std::size_t old = m_old.Directory(oldRecord).end;
    const auto info = platform::Stat(path);
    if (!info) {
        m_deleted.push_back(old);  // went away meanwhile
        return;
    }
    const double time = m_times->Convert(info->modified).Days();
    const std::int64_t size = info->isDirectory ? 0 : info->size;
    m_fresh.MarkOwnEntry(freshRecord);
    if (m_rules.keepNames) {
        m_fresh.Append(m_old.KeyAt(old), time, size, path);
    } else {
        m_fresh.Append(m_old.KeyAt(old), time, size);
    }
    const std::size_t index = m_fresh.Size() - 1;
    if (m_rules.watchChanged && (m_old.TimeAt(old) != time || m_old.SizeAt(old) != size)) {
        Report(path, index, FileKind::Changed);
    }
}

}  // namespace quorvel
