#pragma once

#include "platform/unique_fd.h"

namespace quorvel::platform {

/// A process descriptor for pid (close-on-exec), or an invalid one where the
/// kernel has none. It pins the process, so a signal sent through it cannot
/// reach a newcomer that reused the id.
UniqueFd OpenPidFd(int pid);

/// Sends a signal through the descriptor when there is one, else by id.
bool SendSignal(int pid, const UniqueFd& pidfd, int signal);

}  // namespace quorvel::platform
