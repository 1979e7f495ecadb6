#pragma once

#include "platform/signals.h"

namespace quorvel::platform::win32 {

/// Hands a signal to the program's SignalListener, as the console control
/// handler does; the service control handler uses it for stop, pause,
/// continue and shutdown. False when no listener is set up.
bool DeliverProcessSignal(ProcessSignal signal);

}  // namespace quorvel::platform::win32
