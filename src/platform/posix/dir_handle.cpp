#include "platform/posix/dir_handle.h"

#include <fcntl.h>

namespace quorvel::platform {

DirHandle DirHandle::Open(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        return DirHandle();
    }
    return Adopt(std::move(fd));
}

DirHandle DirHandle::Adopt(UniqueFd fd) {
    if (!fd) {
        return DirHandle();
    }
    DIR* dir = ::fdopendir(fd.Get());
    if (dir == nullptr) {
        return DirHandle();  // fd closes the descriptor
    }
    (void)fd.Release();  // the stream owns it now
    return DirHandle(dir);
}

void DirHandle::Reset(DIR* dir) {
    if (m_dir != nullptr) {
        ::closedir(m_dir);
    }
    m_dir = dir;
}

}  // namespace quorvel::platform
