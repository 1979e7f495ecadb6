#include <unistd.h>

#include "platform/unique_fd.h"

namespace quorvel::platform {

void UniqueFd::Reset(int fd) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

bool UniqueFd::Close() {
    if (m_fd < 0) {
        return true;
    }
    int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}

}  // namespace quorvel::platform
