#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/posix/path_stat.h"
#include "platform/trash.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace fs = std::filesystem;

namespace {

// Percent-encodes a path for the Path= line of a .trashinfo file.
std::string EncodePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string DeletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool EnsurePrivateDirectory(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    auto st = LinkStat(dir);  // a symlink planted in its place is refused
    if (!st || !S_ISDIR(st->st_mode) || st->st_uid != ::getuid()) {
        errno = EACCES;
        return false;
    }
    return true;
}

// Moves path into one trash directory; errno describes a failure.
bool TrashInto(const fs::path& trash, const fs::path& path) {
    if (!EnsurePrivateDirectory(trash) || !EnsurePrivateDirectory(trash / "files") ||
        !EnsurePrivateDirectory(trash / "info")) {
        return false;
    }
    const std::string name = path.filename().string();
    const std::string stem = fs::path(name).stem().string();
    const std::string ext = fs::path(name).extension().string();
    for (int i = 1; i < 100000; ++i) {
        std::string candidate = i == 1 ? name : stem + "." + std::to_string(i) + ext;
        fs::path info = trash / "info" / (candidate + ".trashinfo");
        fs::path file = trash / "files" / candidate;
        // The exclusive creation of the info file reserves the name.
        UniqueFd fd(::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        if (LinkStat(file)) {
            fd.Reset();
            ::unlink(info.c_str());
            continue;
        }
        std::string content = "[Trash Info]\nPath=" + EncodePath(path.string()) +
                              "\nDeletionDate=" + DeletionDate() + "\n";
        bool written = ::write(fd.Get(), content.data(), content.size()) ==
                       static_cast<ssize_t>(content.size());
        if (!fd.Close() || !written) {
            int error = errno;
            ::unlink(info.c_str());
            errno = error == 0 ? EIO : error;
            return false;
        }
        if (::rename(path.c_str(), file.c_str()) != 0) {
            int error = errno;
            ::unlink(info.c_str());
            errno = error;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

// The nearest existing directory at or above path.
fs::path ExistingAncestor(fs::path path) {
    while (!LinkStat(path) && path.has_parent_path() && path != path.parent_path()) {
        path = path.parent_path();
    }
    return path;
}

// The mount point of the file system that holds path.
fs::path TopDirectory(const fs::path& path, dev_t device) {
    fs::path top = path;
    while (top != top.parent_path()) {
        auto st = LinkStat(top.parent_path());
        if (!st || st->st_dev != device) {
            break;
        }
        top = top.parent_path();
    }
    return top;
}

}  // namespace

bool MoveToTrash(const std::string& pathText, std::string* error) {
    auto setError = [&](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        }
        return false;
    };
    fs::path path = Absolute(pathText);
    auto st = LinkStat(path);
    if (!st) {
        return setError(ErrnoText(errno));
    }
    fs::path dataHome;
    if (auto xdg = GetEnvironment("XDG_DATA_HOME"); xdg && !xdg->empty() && (*xdg)[0] == '/') {
        dataHome = *xdg;
    } else {
        dataHome = fs::path(HomeDirectory()) / ".local" / "share";
    }
    fs::path homeTrash = dataHome / "Trash";
    auto homeStat = LinkStat(ExistingAncestor(homeTrash));
    int lastError = EXDEV;
    if (homeStat && homeStat->st_dev == st->st_dev) {
        std::error_code ec;
        fs::create_directories(dataHome, ec);
        if (TrashInto(homeTrash, path)) {
            return true;
        }
        lastError = errno;
        if (lastError != EXDEV) {
            return setError(ErrnoText(lastError));
        }
    }
    // The home trash is on another file system: use the volume's own.
    fs::path top = TopDirectory(path, st->st_dev);
    const std::string uid = std::to_string(::getuid());
    fs::path shared = top / ".Trash";
    auto sharedStat = LinkStat(shared);
    if (sharedStat && S_ISDIR(sharedStat->st_mode) && (sharedStat->st_mode & S_ISVTX) != 0) {
        if (TrashInto(shared / uid, path)) {
            return true;
        }
    }
    fs::path own = top / (".Trash-" + uid);
    if (TrashInto(own, path)) {
        return true;
    }
    lastError = errno;
    return setError(ErrnoText(lastError));
}

}  // namespace quorvel::platform
