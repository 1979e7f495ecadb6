#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/date_time.h"
#include "core/file_data.h"
#include "core/mask_list.h"
#include "engine/snapshot.h"
#include "platform/directory_scanner.h"
#include "platform/file_system.h"

namespace quorvel {

class ChangeNotifyThread;

namespace platform {
struct ChangeSet;
}

/// What a directory item watches for ("ConditionType").
enum class ConditionType : int { StatusChanges = 0, OldFiles = 1 };

/// The rules one check of a directory item applies to the entries it meets.
struct DirScanRules {
    const MaskList* masks = nullptr;
    const MaskList* excludeMasks = nullptr;
    const MaskList* dirMasks = nullptr;
    const MaskList* exclDirMasks = nullptr;
    ConditionType condition = ConditionType::StatusChanges;
    bool fullPathMask = false;
    bool dirMonitoring = false;
    bool subdir = false;
    bool countHidden = true;
    bool keepNames = false;
    bool ignoreAdded = false;
    bool ignoreOpened = false;
    bool breakFirst = false;
    bool watchChanged = false;
    bool watchAdded = false;
    double limitDays = 0;
};

/// One walk of a directory item's tree: builds the new snapshot from what it
/// meets, reports added, changed and old files, and leaves the old entries it
/// did not meet again as the deleted ones.
///
/// A whole walk reads every directory. A walk of the changes reads only the
/// directories the change notification named (and everything below a
/// directory that is new to the tree) and takes the rest from the old
/// snapshot unchanged; it reports exactly what a whole walk would, and
/// leaves the same snapshot, as long as the notification saw every change.
class DirScan : public platform::DirectoryScanner::Visitor {
public:
    /// root: the walked directory's path ending with the separator. stop
    /// ends the walk early (a whole walk only). watcher, when given, is made
    /// to watch every directory the walk reads.
    DirScan(const DirScanRules& rules, Snapshot& old, Snapshot& fresh, FileList& files,
            DateTime now, bool baseline, std::function<bool()> stop, ChangeNotifyThread* watcher,
            std::string root);
    ~DirScan() override;

    /// How many threads read the tree at once in a whole walk, this one
    /// included (platform::ScanPool): 1, the default, reads on this thread
    /// alone; 0 one per core. The result is the same either way.
    void SetWalkers(int walkers) { m_walkers = walkers; }
    /// Walks the whole tree, matching entries with old through its lookups.
    void WalkWhole();
    /// Walks what changed. old must come from an earlier walk of the same
    /// tree under the same rules (it holds its directories).
    void WalkChanged(const platform::ChangeSet& changes);

    /// The entries of the new snapshot whose details may change without a
    /// notification naming them: symlinks (their target lives elsewhere),
    /// files with hard links (written through another name) and directories
    /// the walk did not enter (nothing watches inside them). Paths relative
    /// to the root. A walk of the changes must look at them again.
    std::vector<std::string> TakeVolatile() { return std::move(m_volatile); }
    /// Adds the volatile entries of the previous walk to the changes, so
    /// that the walk of the changes looks at each of them.
    static void AddVolatile(platform::ChangeSet& changes, const std::vector<std::string>& entries);

    /// True when an entry was reported (added, changed or old).
    bool Reported() const { return m_reported; }
    /// The old entries not met again, in old snapshot order.
    std::size_t DeletedCount() const;
    template <typename F>
    void ForEachDeleted(F&& f) const {
        if (!m_incremental) {
            m_old.ForEachLeft(f);
            return;
        }
        for (std::size_t i : m_deleted) {
            f(i);
        }
    }

    bool ShouldStop() override;
    bool Enter(platform::ScanEntry& e) override;
    void Visit(platform::ScanEntry& e) override;
    bool MayEnter(const platform::ScanEntry& e) const override;
    void BeforeRead(platform::ScanEntry& e) override;

private:
    // A directory being read: its record in the new snapshot, its record in
    // the old one (or -1), and the old entries it still may meet again.
    struct Frame {
        std::string path;  // full path, without the final separator
        std::int32_t fresh = -1;
        std::int32_t old = -1;
        bool forced = false;  // everything below is read too
        // The names the notification gave for this directory: other entries
        // are taken as they were. None: every entry is looked at.
        const std::unordered_set<std::string>* names = nullptr;
        std::unordered_multimap<std::uint32_t, std::size_t> entries;  // key -> old index
        std::vector<std::int32_t> childrenMet;
    };

    bool Hidden(const platform::ScanEntry& e) const;
    std::string_view Target(const platform::ScanEntry& e) const;
    bool Enterable(const platform::ScanEntry& e) const;
    bool InUse(platform::ScanEntry& e);
    std::size_t TakeOld(std::uint32_t key);
    bool TakeUnchanged(platform::ScanEntry& e, bool ownEntry, std::int32_t closed);
    FileKind Compare(std::size_t index);
    FileKind AgeTest(std::size_t index);
    void Defer(std::size_t index);
    void Report(std::string name, std::size_t index, FileKind kind);

    // The walk of the changes.
    void Emit(std::int32_t oldRecord, std::int32_t freshParent, const std::string& path);
    void EmitOldLayout(std::int32_t oldRecord, std::int32_t freshParent, const std::string& path);
    void ReadDirectory(std::int32_t oldRecord, std::int32_t freshParent, const std::string& path,
                       bool forced);
    void OpenFrame(std::int32_t oldRecord, std::int32_t fresh, std::string path, bool forced);
    void CloseFrame();
    void RestatOwnEntry(std::int32_t oldRecord, const std::string& path, std::int32_t freshRecord);
    void DeleteSubtree(std::int32_t oldRecord);
    bool MustRead(std::int32_t oldRecord) const;
    bool HoldsChanges(std::int32_t oldRecord) const;

    const DirScanRules& m_rules;
    Snapshot& m_old;
    Snapshot& m_fresh;
    FileList& m_files;
    const double m_now;
    const bool m_baseline;
    std::function<bool()> m_stop;
    ChangeNotifyThread* m_watcher;
    std::string m_root;
    int m_walkers = 1;
    bool m_incremental = false;
    bool m_reported = false;
    platform::OpenWriters m_writers;

    // Records of the new snapshot for the directories being walked.
    struct Open {
        std::string path;
        std::int32_t record;
    };
    std::vector<Open> m_open;
    std::int32_t m_lastClosed = -1;  // record whose own entry may come next
    std::string m_lastClosedPath;

    // The walk of the changes.
    std::vector<Frame> m_frames;
    std::vector<std::uint8_t> m_read;     // old record -> 1: read it, 2: and all below
    std::vector<std::uint8_t> m_touched;  // old record -> something below it is read
    std::vector<const std::unordered_set<std::string>*> m_names;  // old record -> changed names
    std::vector<std::size_t> m_deleted;
    std::vector<std::string> m_volatile;

    class TimeConverter;
    std::unique_ptr<TimeConverter> m_times;
};

}  // namespace quorvel
