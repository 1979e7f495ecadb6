#include <io.h>

#include "platform/unique_fd.h"

// Descriptors here are the C runtime's, as _wopen and _open_osfhandle give them.

namespace quorvel::platform {

void UniqueFd::Reset(int fd) {
    if (m_fd >= 0) {
        ::_close(m_fd);
    }
    m_fd = fd;
}

bool UniqueFd::Close() {
    if (m_fd < 0) {
        return true;
    }
    const int fd = m_fd;
    m_fd = -1;
    return ::_close(fd) == 0;
}

}  // namespace quorvel::platform
