#include "engine/check_file_thread.h"

#include "actions/macro_expander.h"
#include "core/mask_matcher.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace quorvel {

namespace {

struct FoundFile {
    std::string path;
    platform::FileInfo info;
};

// The file itself when it exists; otherwise, when the name holds wildcards,
// the first entry of its directory that matches, as the file system lists
// them.
std::optional<FoundFile> FindFile(const std::string& pattern) {
    if (pattern.empty()) {
        return std::nullopt;
    }
    if (auto info = platform::Stat(pattern)) {
        return FoundFile{pattern, *info};
    }
    const auto slash = pattern.rfind(platform::kPathSeparator);
    const std::string directory = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (!HasWildcards(name)) {
        return std::nullopt;
    }
    const WildcardMask mask(name);
    std::optional<FoundFile> found;
    platform::ListDirectory(directory.empty() ? "." : directory,
                            [&](const platform::DirectoryEntry& entry) {
                                if (!mask.Matches(entry.name)) {
                                    return true;
                                }
                                std::string full = directory + entry.name;
                                if (auto info = platform::Stat(full)) {
                                    found = FoundFile{std::move(full), *info};
                                    return false;
                                }
                                return true;
                            });
    return found;
}

}  // namespace

std::shared_ptr<CheckFileThread> CheckFileThread::Create(bool paused) {
    return std::shared_ptr<CheckFileThread>(new CheckFileThread(paused));
}

CheckFileThread::~CheckFileThread() {
    StopWorker();
}

CheckFileThread::CheckFileThread(bool paused) : BaseMonitoring(paused) {
    m_ifChanged = &m_params.Add<IntParam>("IfChanged", 0, 0, 1);
    m_ignoreFirst = &m_params.Add<BoolParam>("IgnoreFirst", false);
    m_mustExist = &m_params.Add<BoolParam>("MustExist", true);
    m_checkLocking = &m_params.Add<BoolParam>("CheckLocking", false);
    m_waitUnlocking = &m_params.Add<BoolParam>("WaitUnlocking", false);
}

bool CheckFileThread::Check() {
    const ItemState oldState = State();
    const std::string path = ExpandRecord(FileData::Placeholder(), FileName());
    if (path != LastPath()) {
        LastPath() = path;
        SetResetFlag(true);
    }
    // Taken now: a rescan asked for while this check runs (while it waits for
    // a lock, say) ends the wait and is served by the next check.
    const bool rescan = ResetRequested();
    SetResetFlag(false);
    SetState(ItemState::Unknown);
    NotifyStatus();
    SetState(ItemState::Ok);

    bool result = false;
    auto found = FindFile(path);
    if (!found) {
        SetState(ItemState::NotFound);
    } else {
        platform::EpochTime written = found->info.modified;
        std::int64_t size = found->info.size;
        DateTime time = DateTime::FromEpoch(written);

        bool changed;
        if (rescan) {
            const double age = DateTime::Now().Days() - time.Days();
            changed = age <= Interval() / DateTime::kSecondsPerDay;
        } else {
            changed = !m_hasStored || written.seconds != m_storedTime.seconds ||
                      written.nanoseconds != m_storedTime.nanoseconds || size != m_storedSize;
        }
        FileKind kind = changed ? FileKind::Changed : FileKind::None;
        SetState(changed ? ItemState::Ok : ItemState::Triggered);
        if (oldState == ItemState::NotFound) {
            kind = FileKind::Added;
        }
        if (m_ifChanged->Value() == 1) {
            SetState(State() == ItemState::Ok ? ItemState::Triggered : ItemState::Ok);
        }

        if (State() == ItemState::Triggered) {
            result = true;
            if (m_checkLocking->Value()) {
                while (platform::IsFileInUse(found->path)) {
                    if (!m_waitUnlocking->Value()) {
                        result = false;
                        break;
                    }
                    // A request, a rescan or a stop ends the wait without acting.
                    if (!WaitBriefly(std::chrono::milliseconds(100)) || CheckRequested() ||
                        ResetRequested() || !m_waitUnlocking->Value()) {
                        result = false;
                        break;
                    }
                }
                if (auto again = platform::Stat(found->path)) {
                    written = again->modified;
                    size = again->size;
                    time = DateTime::FromEpoch(written);
                } else {
                    SetState(ItemState::NotFound);
                    result = false;
                }
            }
            Files().emplace_back(found->path, time, size, kind);
        }
        m_storedTime = written;
        m_storedSize = size;
        m_hasStored = true;
    }

    if (m_mustExist->Value() && State() == ItemState::NotFound) {
        result = true;
    }
    if (m_firstCheck && m_ignoreFirst->Value()) {
        result = false;
    }
    m_firstCheck = false;
    return result;
}

}  // namespace quorvel
