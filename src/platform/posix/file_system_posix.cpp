#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/dir_handle.h"
#include "platform/posix/path_stat.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace {

FileInfo InfoFrom(const struct stat& st) {
    FileInfo info;
    info.isDirectory = S_ISDIR(st.st_mode);
    info.isRegular = S_ISREG(st.st_mode);
    info.isSymlink = S_ISLNK(st.st_mode);
    info.size = static_cast<std::int64_t>(st.st_size);
    info.modified = {static_cast<std::int64_t>(st.st_mtim.tv_sec),
                     static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    info.device = static_cast<std::uint64_t>(st.st_dev);
    info.inode = static_cast<std::uint64_t>(st.st_ino);
    return info;
}

}  // namespace

namespace {

// A link we may follow with our own rights: ours, or root's (who could
// write anywhere anyway).
bool TrustedLinkOwner(uid_t owner) {
    return owner == ::geteuid() || owner == 0;
}

}  // namespace

std::optional<std::string> WriteTarget(const std::string& path, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<std::string> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    // The components still to walk, the next one last.
    std::vector<std::string> pending;
    auto push = [&pending](std::string_view text) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (start <= text.size()) {
            const std::size_t slash = std::min(text.find('/', start), text.size());
            if (slash > start) {
                parts.emplace_back(text.substr(start, slash - start));
            }
            start = slash + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    push(path);
    // The part walked so far holds no link.
    std::string walked = !path.empty() && path[0] == '/' ? "/" : "";
    auto join = [&walked](const std::string& part) {
        if (walked.empty()) {
            return part;
        }
        return walked.back() == '/' ? walked + part : walked + '/' + part;
    };
    int hops = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.back());
        pending.pop_back();
        if (part == ".") {
            continue;
        }
        const std::string candidate = join(part);
        struct stat st {};
        if (part == ".." || ::lstat(candidate.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            // ".." of a directory without links is its parent as written; a
            // component that does not exist is created as named.
            walked = candidate;
            continue;
        }
        if (!TrustedLinkOwner(st.st_uid)) {
            return fail("\"" + candidate + "\" is a link that belongs to another user");
        }
        // As many hops as the kernel follows before it gives up.
        if (++hops > 40) {
            return fail("\"" + path + "\": " + ErrnoText(ELOOP));
        }
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(candidate, ec);
        if (ec) {
            return fail("\"" + candidate + "\": " + ec.message());
        }
        const std::string target = link.string();
        if (!target.empty() && target[0] == '/') {
            walked.assign(1, '/');
        }
        push(target);
    }
    if (walked.empty()) {
        walked.assign(1, '.');
    }
    return walked;
}

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, bool append,
                                             std::string* error) {
    const auto target = WriteTarget(path, error);
    if (!target) {
        return nullptr;
    }
    // Without blocking: a FIFO without a reader would hold the caller for
    // good. Without following a link: one put there since the path was
    // looked at is refused.
    UniqueFd fd(::open(target->c_str(),
                       O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0666));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        if (error != nullptr) {
            *error = "Cannot open \"" + path + "\": " + ErrnoText(errno);
        }
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error != nullptr) {
            *error = "Cannot write \"" + path + "\": not a regular file";
        }
        return nullptr;
    }
    if (append ? ::lseek(fd.Get(), 0, SEEK_END) < 0 : ::ftruncate(fd.Get(), 0) != 0) {
        if (error != nullptr) {
            *error = "Cannot write \"" + path + "\": " + ErrnoText(errno);
        }
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd.Release()));
}

OutputFile::~OutputFile() {
    UniqueFd closing(m_fd);
}

bool OutputFile::Write(std::string_view data) {
    if (m_failed) {
        return false;
    }
    while (!data.empty()) {
        const ssize_t n = ::write(m_fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_failed = true;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool CanRead(const std::string& path) {
    const auto info = Stat(path);
    const int mode = info && info->isDirectory ? R_OK | X_OK : R_OK;
    return info && ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

bool CanWriteIn(const std::string& directory) {
    const auto info = Stat(directory);
    return info && info->isDirectory &&
           ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::optional<FileInfo> Stat(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return InfoFrom(st);
    }
    if (::lstat(path.c_str(), &st) == 0) {
        return InfoFrom(st);
    }
    return std::nullopt;
}

bool ListDirectory(const std::string& directory,
                   const std::function<bool(const DirectoryEntry&)>& visit) {
    UniqueFd fd(
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        return false;
    }
    DirHandle dir = DirHandle::Adopt(UniqueFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0)));
    if (!dir) {
        return false;
    }
    DirectoryEntry entry;
    while (dirent* d = dir.Next()) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
            continue;
        }
        entry.name = d->d_name;
        if (d->d_type == DT_DIR) {
            entry.isDirectory = true;
        } else if (d->d_type == DT_UNKNOWN) {
            struct stat st {};
            entry.isDirectory = ::fstatat(fd.Get(), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISDIR(st.st_mode);
        } else {
            entry.isDirectory = false;
        }
        if (!visit(entry)) {
            break;
        }
    }
    return true;
}

OpenWriters OpenWriters::Capture() {
    auto keys = std::make_shared<std::unordered_set<Key, KeyHash>>();
    const pid_t self = ::getpid();
    DirHandle proc = DirHandle::Open("/proc");
    if (proc) {
        std::string base;
        while (dirent* p = proc.Next()) {
            char* end = nullptr;
            long pid = std::strtol(p->d_name, &end, 10);
            if (end == p->d_name || *end != '\0' || pid == self) {
                continue;
            }
            base = std::string("/proc/") + p->d_name;
            DirHandle fds = DirHandle::Open(base + "/fd");
            if (!fds) {
                continue;
            }
            while (dirent* f = fds.Next()) {
                if (f->d_name[0] == '.') {
                    continue;
                }
                // fdinfo tells the open flags; only writers matter.
                std::string infoPath = base + "/fdinfo/" + f->d_name;
                UniqueFd info(::open(infoPath.c_str(), O_RDONLY | O_CLOEXEC));
                if (!info) {
                    continue;
                }
                char buf[512];
                ssize_t n = ::read(info.Get(), buf, sizeof(buf) - 1);
                if (n <= 0) {
                    continue;
                }
                buf[n] = '\0';
                const char* flags = std::strstr(buf, "flags:");
                if (flags == nullptr) {
                    continue;
                }
                unsigned long value = std::strtoul(flags + 6, nullptr, 8);
                if ((value & O_ACCMODE) == O_RDONLY) {
                    continue;
                }
                struct stat st {};
                if (::stat((base + "/fd/" + f->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                    keys->insert({static_cast<std::uint64_t>(st.st_dev),
                                  static_cast<std::uint64_t>(st.st_ino)});
                }
            }
        }
    }
    OpenWriters writers;
    writers.m_keys = std::move(keys);
    return writers;
}

bool OpenWriters::Contains(std::uint64_t device, std::uint64_t inode) const {
    return m_keys && m_keys->count({device, inode}) != 0;
}

bool OpenWriters::Empty() const {
    return !m_keys || m_keys->empty();
}

bool HasConflictingLock(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        return false;
    }
    // POSIX record locks and OFD locks both show up in an OFD query.
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 0;
    if (::fcntl(fd.Get(), F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK) {
        return true;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    ::flock(fd.Get(), LOCK_UN);
    return false;
}

bool IsFileInUse(const std::string& path) {
    if (HasConflictingLock(path)) {
        return true;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    return OpenWriters::Capture().Contains(static_cast<std::uint64_t>(st.st_dev),
                                           static_cast<std::uint64_t>(st.st_ino));
}

bool CreateDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0) {
        CreateDirectories(path.substr(0, slash), mode);
    }
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) {
        return true;
    }
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

struct InputFile::Impl {
    UniqueFd fd;
};

InputFile::InputFile(std::unique_ptr<Impl> impl, std::string path, std::uint64_t size)
    : m_impl(std::move(impl)), m_path(std::move(path)), m_size(size) {}

InputFile::~InputFile() = default;

std::unique_ptr<InputFile> InputFile::Open(const std::string& path, std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<InputFile> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return nullptr;
    };
    // Opened without waiting: a pipe with no writer would block the open,
    // and a pipe or device may never end, so only regular files are read.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd) {
        return fail(errno == ENOENT ? std::string()
                                    : "Cannot read \"" + path + "\": " + ErrnoText(errno));
    }
    if (::fstat(fd.Get(), &st) != 0) {
        return fail("Cannot read \"" + path + "\": " + ErrnoText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return fail("\"" + path + "\" is not a regular file");
    }
    auto impl = std::make_unique<Impl>();
    impl->fd = std::move(fd);
    return std::unique_ptr<InputFile>(new InputFile(
        std::move(impl), path, static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0))));
}

std::optional<std::size_t> InputFile::Read(char* data, std::size_t size, std::string* error) {
    // A file that grows while it is read ends where it ended when opened.
    if (m_size > 0) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_size - m_read));
    }
    for (;;) {
        if (size == 0) {
            return 0;
        }
        const ssize_t n = ::read(m_impl->fd.Get(), data, size);
        if (n >= 0) {
            m_read += static_cast<std::uint64_t>(n);
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            if (error != nullptr) {
                *error = "Cannot read \"" + m_path + "\": " + ErrnoText(errno);
            }
            return std::nullopt;
        }
    }
}

struct AtomicFile::Impl {
    UniqueFd fd;
    std::string path;
    std::string tempPath;
    std::string error;
    bool failed = false;
    bool committed = false;
    std::uint64_t written = 0;
    std::uint64_t writebackFrom = 0;

    bool Fail(std::string why) {
        failed = true;
        if (error.empty()) {
            error = std::move(why);
        }
        return false;
    }
};

AtomicFile::AtomicFile() : m_impl(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    m_impl->fd.Reset();
    if (!m_impl->committed && !m_impl->tempPath.empty()) {
        ::unlink(m_impl->tempPath.c_str());
    }
}

bool AtomicFile::Open(const std::string& path, unsigned mode) {
    // A link is written through: the file it leads to is replaced and the
    // link stays (configurations kept by dotfile managers are links).
    std::string why;
    const auto target = WriteTarget(path, &why);
    if (!target) {
        return m_impl->Fail("Cannot write \"" + path + "\": " + why);
    }
    m_impl->path = *target;
    // An existing file keeps its permissions and, where we may, its owner.
    // Only a regular file is replaced: never a device, a FIFO or a folder.
    struct stat old {};
    const bool existed = ::lstat(target->c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        return m_impl->Fail("Cannot write \"" + path + "\": \"" + *target +
                            "\" is not a regular file");
    }
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".tmp%012llx",
                      static_cast<unsigned long long>(rng() & 0xffffffffffffULL));
        std::string temp = *target + suffix;
        // A new file gets the mode less the umask, as the kernel applies it.
        // A replacement is created private; its final mode is set once the
        // owner is right, so nobody else can open it in between.
        const auto createMode = static_cast<mode_t>(existed ? 0600 : (mode & 07777));
        int fd =
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
        if (fd >= 0) {
            m_impl->fd.Reset(fd);
            m_impl->tempPath = temp;
            if (existed) {
                if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
                    [[maybe_unused]] int ignored = ::fchown(fd, old.st_uid, old.st_gid);
                }
                // The mode holds even under a restrictive umask.
                ::fchmod(fd, old.st_mode & 07777);
            }
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return m_impl->Fail("Cannot create a file beside \"" + *target + "\": " + ErrnoText(errno));
}

bool AtomicFile::Write(std::string_view data) {
    if (m_impl->failed || !m_impl->fd) {
        m_impl->failed = true;
        return false;
    }
    while (!data.empty()) {
        ssize_t n = ::write(m_impl->fd.Get(), data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return m_impl->Fail("Cannot write \"" + m_impl->path + "\": " + ErrnoText(errno));
        }
        data.remove_prefix(static_cast<std::size_t>(n));
        m_impl->written += static_cast<std::uint64_t>(n);
    }
    // A large file goes to disk while the rest is still being made, so
    // Commit's sync waits only for the tail. Failures show at the sync.
    constexpr std::uint64_t kWritebackStep = 1 << 20;
    if (m_impl->written - m_impl->writebackFrom >= kWritebackStep) {
        ::sync_file_range(m_impl->fd.Get(), static_cast<off_t>(m_impl->writebackFrom),
                          static_cast<off_t>(m_impl->written - m_impl->writebackFrom),
                          SYNC_FILE_RANGE_WRITE);
        m_impl->writebackFrom = m_impl->written;
    }
    return true;
}

bool AtomicFile::Commit() {
    if (m_impl->failed || !m_impl->fd) {
        return m_impl->Fail("Cannot write \"" + m_impl->path + "\"");
    }
    if (::fsync(m_impl->fd.Get()) != 0 || !m_impl->fd.Close() ||
        ::rename(m_impl->tempPath.c_str(), m_impl->path.c_str()) != 0) {
        return m_impl->Fail("Cannot write \"" + m_impl->path + "\": " + ErrnoText(errno));
    }
    m_impl->committed = true;
    return true;
}

std::string AtomicFile::Error() const {
    return m_impl->error;
}

}  // namespace quorvel::platform
