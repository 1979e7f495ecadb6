#pragma once

#include <memory>

#include "platform/sound_player.h"
#include "platform/window_list.h"

namespace quorvel::platform {

// What each system provides when no program or test set its own.

/// The system's default sound output; lives until the process ends.
std::shared_ptr<SoundPlayer> SystemSoundPlayer();

/// The system's window list, chosen afresh on each call.
std::shared_ptr<WindowList> SystemWindowList();

}  // namespace quorvel::platform
