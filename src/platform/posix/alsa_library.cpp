#include "platform/posix/alsa_library.h"

#include <memory>

namespace quorvel::platform {

namespace {

void SilentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

const AlsaLibrary* LoadAlsaLibrary(const std::string& file) {
    // Kept loaded: the library holds its parsed configuration and the plug-ins
    // it opened in its own globals, and a sound may still be ending on the
    // player's thread while the process's statics are destroyed.
    return KeepLoaded<AlsaLibrary>(file, [&]() -> std::unique_ptr<AlsaLibrary> {
        auto alsa = std::make_unique<AlsaLibrary>();
        alsa->library = SharedLibrary::Open(file);
        const SharedLibrary& lib = alsa->library;
        decltype(&snd_lib_error_set_handler) setErrorHandler = nullptr;
        const bool complete = lib && lib.Resolve(setErrorHandler, "snd_lib_error_set_handler") &&
                              lib.Resolve(alsa->pcmOpen, "snd_pcm_open") &&
                              lib.Resolve(alsa->pcmClose, "snd_pcm_close") &&
                              lib.Resolve(alsa->pcmSetParams, "snd_pcm_set_params") &&
                              lib.Resolve(alsa->pcmWritei, "snd_pcm_writei") &&
                              lib.Resolve(alsa->pcmWait, "snd_pcm_wait") &&
                              lib.Resolve(alsa->pcmRecover, "snd_pcm_recover") &&
                              lib.Resolve(alsa->pcmDrop, "snd_pcm_drop") &&
                              lib.Resolve(alsa->pcmDrain, "snd_pcm_drain") &&
                              lib.Resolve(alsa->pcmStart, "snd_pcm_start") &&
                              lib.Resolve(alsa->pcmState, "snd_pcm_state");
        if (!complete) {
            return nullptr;
        }
        setErrorHandler(SilentErrorHandler);
        return alsa;
    });
}

}  // namespace quorvel::platform
