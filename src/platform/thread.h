#pragma once

#include <cstddef>
#include <functional>

namespace quorvel::platform {

/// Starts a detached thread with the given stack size (0 = the system's
/// default) that runs body. Answers false when no thread could be started.
/// Items keep many threads alive at once, so a modest stack keeps memory low.
bool StartDetachedThread(std::function<void()> body, std::size_t stackSize = 0);

}  // namespace quorvel::platform
