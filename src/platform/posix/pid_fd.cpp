#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/pid_fd.h"

namespace quorvel::platform {

UniqueFd OpenPidFd(int pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        return UniqueFd(static_cast<int>(fd));
    }
#else
    (void)pid;
#endif
    return UniqueFd();
}

bool SendSignal(int pid, const UniqueFd& pidfd, int signal) {
#ifdef SYS_pidfd_send_signal
    if (pidfd) {
        return ::syscall(SYS_pidfd_send_signal, pidfd.Get(), signal, nullptr, 0) == 0;
    }
#endif
    (void)pidfd;
    return ::kill(pid, signal) == 0;
}

}  // namespace quorvel::platform
