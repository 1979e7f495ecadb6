#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/directory_scanner.h"
#include "platform/posix/dir_open.h"

namespace quorvel::platform {

namespace {

// One directory on the walk's stack: its entries, read in full when it was
// opened (so its descriptor may be closed while deeper levels are walked),
// and the entry whose subdirectory is being walked.
struct Frame {
    UniqueFd fd;
    std::vector<char> records;  // raw dirent64 records
    std::size_t pos = 0;
    std::size_t pathLength = 0;  // length of the path including the separator
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool dead = false;  // could not be reopened: the rest is skipped
    bool hasPending = false;
    std::size_t pendingRecord = 0;
};

const dirent64* RecordAt(const Frame& frame, std::size_t offset) {
    return reinterpret_cast<const dirent64*>(frame.records.data() + offset);
}

// Reads every entry of the directory; a read error keeps what was read.
void ReadAll(Frame& frame, std::vector<char>& scratch) {
    frame.records.clear();
    frame.pos = 0;
    for (;;) {
        const ssize_t n = ::getdents64(frame.fd.Get(), scratch.data(), scratch.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        frame.records.insert(frame.records.end(), scratch.data(), scratch.data() + n);
    }
}

}  // namespace

UniqueFd OpenDirectory(const std::string& path) {
    const char* p = path.empty() ? "." : path.c_str();
    UniqueFd fd(OpenAtRetry(AT_FDCWD, p, kDirFlags));
    if (fd || errno != ENAMETOOLONG) {
        return fd;
    }
    // Longer than the system's limit: walk it one component at a time.
    fd.Reset(OpenAtRetry(AT_FDCWD, path[0] == '/' ? "/" : ".", kDirFlags));
    std::size_t start = 0;
    while (fd && start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > start) {
            const std::string component = path.substr(start, end - start);
            fd.Reset(OpenAtRetry(fd.Get(), component.c_str(), kDirFlags));
        }
        start = end + 1;
    }
    return fd;
}

ScanEntry::Type ScanEntry::TypeFromListing(unsigned char listedType) {
    switch (listedType) {
        case DT_DIR:
            return Type::Directory;
        case DT_LNK:
            return Type::Symlink;
        case DT_UNKNOWN:
            return Type::Unknown;
        default:
            return Type::Other;
    }
}

bool ScanEntry::Resolve() {
    if (m_resolved) {
        return m_resolveOk;
    }
    m_resolved = true;
    struct stat st {};
    if (m_type != Type::Symlink) {
        if (::fstatat(m_dirFd, m_cName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return m_resolveOk = false;
        }
        if (S_ISLNK(st.st_mode)) {
            m_type = Type::Symlink;  // replaced since it was listed
        }
    }
    if (m_type == Type::Symlink) {
        // The target's details; a dangling link reports itself.
        if (::fstatat(m_dirFd, m_cName, &st, 0) != 0 &&
            ::fstatat(m_dirFd, m_cName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return m_resolveOk = false;
        }
    }
    m_isDirectory = S_ISDIR(st.st_mode);
    // A directory has no content size of its own; its block count would
    // only make it look changed whenever entries come and go.
    m_size = m_isDirectory ? 0 : static_cast<std::int64_t>(st.st_size);
    m_modified = {static_cast<std::int64_t>(st.st_mtim.tv_sec),
                  static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    m_device = static_cast<std::uint64_t>(st.st_dev);
    m_inode = static_cast<std::uint64_t>(st.st_ino);
    m_links = static_cast<std::uint64_t>(st.st_nlink);
    return m_resolveOk = true;
}

UniqueFd ScanEntry::OpenAsDirectory() const {
    return UniqueFd(OpenAtRetry(m_dirFd, m_cName, kSubdirFlags));
}

bool DirectoryScanner::Scan(const std::string& root, Visitor& visitor) {
    std::vector<Frame> frames(1);
    std::vector<char> scratch(32 * 1024);
    frames[0].fd = OpenDirectory(root);
    if (!frames[0].fd) {
        return false;
    }
    struct stat st {};
    if (::fstat(frames[0].fd.Get(), &st) == 0) {
        frames[0].device = static_cast<std::uint64_t>(st.st_dev);
        frames[0].inode = static_cast<std::uint64_t>(st.st_ino);
    }
    ReadAll(frames[0], scratch);

    std::string path = root;
    if (path.empty()) {
        path = "./";
    }
    if (path.back() != '/') {
        path += '/';
    }
    frames[0].pathLength = path.size();
    std::size_t depth = 0;
    std::size_t firstOpen = 0;  // frames [firstOpen, depth] hold their descriptor

    auto makeEntry = [&](const Frame& frame, const dirent64* rec) {
        ScanEntry e;
        e.m_dirFd = frame.fd.Get();
        e.m_cName = rec->d_name;
        e.m_name = std::string_view(rec->d_name);
        e.m_hidden = rec->d_name[0] == '.';
        e.m_type = ScanEntry::TypeFromListing(rec->d_type);
        path.resize(frame.pathLength);
        path.append(e.m_name);
        e.m_fullPath = path;
        return e;
    };

    for (;;) {
        Frame& frame = frames[depth];
        if (frame.hasPending) {
            frame.hasPending = false;
            if (visitor.ShouldStop()) {
                break;
            }
            ScanEntry e = makeEntry(frame, RecordAt(frame, frame.pendingRecord));
            visitor.Visit(e);
        }
        if (visitor.ShouldStop()) {
            break;
        }
        if (frame.dead || frame.pos >= frame.records.size()) {
            if (depth == 0) {
                break;
            }
            Frame& parent = frames[depth - 1];
            if (!parent.fd && !parent.dead) {
                // Reopen the parent through "..", checking it is still the
                // same directory; else through its path.
                UniqueFd up;
                if (frame.fd) {
                    up.Reset(OpenAtRetry(frame.fd.Get(), "..", kDirFlags));
                }
                struct stat pst {};
                auto same = [&](const UniqueFd& fd) {
                    return fd && ::fstat(fd.Get(), &pst) == 0 &&
                           static_cast<std::uint64_t>(pst.st_dev) == parent.device &&
                           static_cast<std::uint64_t>(pst.st_ino) == parent.inode;
                };
                if (!same(up)) {
                    up = OpenDirectory(path.substr(0, parent.pathLength));
                }
                if (same(up)) {
                    parent.fd = std::move(up);
                } else {
                    parent.dead = true;
                    parent.hasPending = false;
                }
                firstOpen = depth - 1;
            }
            frame.fd.Reset();
            frame.records.clear();
            frame.records.shrink_to_fit();
            frame.dead = false;
            --depth;
            continue;
        }

        const std::size_t offset = frame.pos;
        const dirent64* rec = RecordAt(frame, offset);
        frame.pos += rec->d_reclen;
        if (IsDotOrDotDot(rec->d_name)) {
            continue;
        }
        ScanEntry e = makeEntry(frame, rec);
        if (e.m_type == ScanEntry::Type::Unknown) {
            // Some file systems do not report types in the listing.
            if (!e.Resolve()) {
                continue;
            }
            e.m_type = e.m_type == ScanEntry::Type::Symlink ? ScanEntry::Type::Symlink
                       : e.m_isDirectory                    ? ScanEntry::Type::Directory
                                                            : ScanEntry::Type::Other;
        }
        if (e.IsRealDirectory() && visitor.Enter(e)) {
            visitor.BeforeRead(e);
            UniqueFd child(OpenAtRetry(frame.fd.Get(), rec->d_name, kSubdirFlags));
            if (child) {
                frame.hasPending = true;
                frame.pendingRecord = offset;
                struct stat cst {};
                std::uint64_t dev = 0, ino = 0;
                if (::fstat(child.Get(), &cst) == 0) {
                    dev = static_cast<std::uint64_t>(cst.st_dev);
                    ino = static_cast<std::uint64_t>(cst.st_ino);
                }
                path.resize(frame.pathLength);
                path.append(rec->d_name);
                path += '/';
                const std::size_t childPathLength = path.size();
                if (frames.size() <= depth + 1) {
                    frames.emplace_back();  // may move the frames; no references are kept
                }
                Frame& next = frames[depth + 1];
                next.fd = std::move(child);
                next.device = dev;
                next.inode = ino;
                next.pathLength = childPathLength;
                next.dead = false;
                next.hasPending = false;
                ReadAll(next, scratch);
                ++depth;
                // Deep trees: keep only the innermost directories open.
                if (depth - firstOpen + 1 > static_cast<std::size_t>(kOpenDirectoryLimit)) {
                    frames[firstOpen].fd.Reset();
                    ++firstOpen;
                }
                continue;
            }
        }
        visitor.Visit(e);
    }
    return true;
}

}  // namespace quorvel::platform
