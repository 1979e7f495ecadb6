#pragma once

#include <fcntl.h>

#include <cerrno>

namespace quorvel::platform {

/// How the walks open a directory to list it.
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
/// How they open an entry of a listed directory: never through a symlink.
constexpr int kSubdirFlags = kDirFlags | O_NOFOLLOW | O_NOCTTY;

/// openat, again when a signal interrupted it.
inline int OpenAtRetry(int dirFd, const char* name, int flags) {
    for (;;) {
        const int fd = ::openat(dirFd, name, flags);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
    }
}

inline bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace quorvel::platform
