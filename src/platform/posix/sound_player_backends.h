#pragma once

#include <memory>
#include <string>

#include "platform/sound_player.h"

namespace quorvel::platform {

/// A sound player on ALSA's default device, through the ALSA library of the
/// given file, loaded when the player first opens the device. Without that
/// library (or with one that lacks a function the player uses) it behaves as
/// without a sound device: nothing is heard and nothing fails.
/// SystemSoundPlayer is such a player on the system's libasound.so.2.
std::shared_ptr<SoundPlayer> OpenAlsaSoundPlayer(const std::string& libraryFile);

}  // namespace quorvel::platform
