#pragma once

#include <alsa/asoundlib.h>

#include <string>

#include "platform/posix/shared_library.h"

namespace quorvel::platform {

/// The functions of the ALSA library that the sound player uses, loaded at
/// run time so that a program which never plays a sound needs no ALSA.
struct AlsaLibrary {
    SharedLibrary library;
    decltype(&snd_pcm_open) pcmOpen = nullptr;
    decltype(&snd_pcm_close) pcmClose = nullptr;
    decltype(&snd_pcm_set_params) pcmSetParams = nullptr;
    decltype(&snd_pcm_writei) pcmWritei = nullptr;
    decltype(&snd_pcm_wait) pcmWait = nullptr;
    decltype(&snd_pcm_recover) pcmRecover = nullptr;
    decltype(&snd_pcm_drop) pcmDrop = nullptr;
    decltype(&snd_pcm_drain) pcmDrain = nullptr;
    decltype(&snd_pcm_start) pcmStart = nullptr;
    decltype(&snd_pcm_state) pcmState = nullptr;
};

/// The system's ALSA library.
inline constexpr const char* kAlsaLibraryFile = "libasound.so.2";

/// The ALSA library of that file, loaded on the first call for it and kept
/// until the process ends; nullptr when the file cannot be loaded or lacks
/// one of the functions. The library's own messages on stderr are silenced.
/// Safe to call from any thread.
const AlsaLibrary* LoadAlsaLibrary(const std::string& file);

}  // namespace quorvel::platform
