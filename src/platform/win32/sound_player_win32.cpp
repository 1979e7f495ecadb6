#include <windows.h>

#include <mmsystem.h>

#include <mutex>

#include "platform/sound_player.h"
#include "platform/system_defaults.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

// The system's own sound playing: asynchronous, one sound per process,
// without the default sound as a fallback for a file that cannot play.
class WindowsSoundPlayer : public SoundPlayer {
public:
    void Play(const std::string& path) override {
        // Only files on disk: a pipe or device name would block the caller.
        const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(path).c_str());
        std::lock_guard lock(m_mutex);
        if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::PlaySoundW(nullptr, nullptr, SND_PURGE);
            return;
        }
        ::PlaySoundW(win32::SystemPath(path).c_str(), nullptr,
                     SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
    }

    void Purge() override {
        std::lock_guard lock(m_mutex);
        ::PlaySoundW(nullptr, nullptr, SND_PURGE);
    }

    void Beep(unsigned frequency, unsigned milliseconds) override {
        ::Beep(frequency, milliseconds);
    }

private:
    std::mutex m_mutex;
};

}  // namespace

std::shared_ptr<SoundPlayer> SystemSoundPlayer() {
    static WindowsSoundPlayer* player = new WindowsSoundPlayer();
    return std::shared_ptr<SoundPlayer>(player, [](SoundPlayer*) {});
}

}  // namespace quorvel::platform
