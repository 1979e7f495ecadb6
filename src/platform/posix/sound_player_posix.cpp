#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/posix/alsa_library.h"
#include "platform/posix/sound_player_backends.h"
#include "platform/sound_player.h"
#include "platform/system_defaults.h"
#include "platform/thread.h"

namespace quorvel::platform {

namespace {

// Owns an open PCM.
class Pcm {
public:
    explicit Pcm(const AlsaLibrary& alsa) : m_alsa(alsa) {}
    ~Pcm() {
        if (m_pcm != nullptr) {
            m_alsa.pcmClose(m_pcm);
        }
    }
    Pcm(const Pcm&) = delete;
    Pcm& operator=(const Pcm&) = delete;

    // Opens the default device without waiting for a busy one and sets it up
    // for the sound's format; the plug layer of the default device converts
    // the rate where the hardware needs another one.
    bool Open(const PcmSound& sound) {
        if (m_alsa.pcmOpen(&m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            m_pcm = nullptr;
            return false;
        }
        return m_alsa.pcmSetParams(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                   sound.channels, sound.rate, 1, 100000) >= 0;
    }

    // Writes every frame, then waits for the device to play them out. Ends
    // early when stop answers true. Never waits on the device for long: a
    // device that stops taking data ends the sound after a grace period.
    void Play(const PcmSound& sound, const std::function<bool()>& stop) {
        using Clock = std::chrono::steady_clock;
        const std::size_t channels = sound.channels;
        const std::size_t totalFrames = sound.samples.size() / channels;
        const auto length = std::chrono::milliseconds(totalFrames * 1000 / sound.rate);
        const auto deadline = Clock::now() + length + std::chrono::seconds(2);
        std::size_t done = 0;
        while (done < totalFrames) {
            if (stop() || Clock::now() > deadline) {
                m_alsa.pcmDrop(m_pcm);
                return;
            }
            snd_pcm_sframes_t n = m_alsa.pcmWritei(m_pcm, sound.samples.data() + done * channels,
                                                   std::min<std::size_t>(totalFrames - done, 4096));
            if (n == -EAGAIN) {
                m_alsa.pcmWait(m_pcm, 50);
                continue;
            }
            if (n < 0) {
                if (m_alsa.pcmRecover(m_pcm, static_cast<int>(n), 1) < 0) {
                    return;
                }
                continue;
            }
            done += static_cast<std::size_t>(n);
        }
        m_alsa.pcmDrain(m_pcm);  // non-blocking: starts draining and returns
        while (true) {
            snd_pcm_state_t state = m_alsa.pcmState(m_pcm);
            if (state != SND_PCM_STATE_DRAINING && state != SND_PCM_STATE_RUNNING &&
                state != SND_PCM_STATE_PREPARED) {
                return;
            }
            if (state == SND_PCM_STATE_PREPARED) {
                // Fewer frames than the start threshold never started by themselves.
                if (m_alsa.pcmStart(m_pcm) < 0) {
                    return;
                }
                m_alsa.pcmDrain(m_pcm);
                continue;
            }
            if (stop() || Clock::now() > deadline) {
                m_alsa.pcmDrop(m_pcm);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    const AlsaLibrary& m_alsa;
    snd_pcm_t* m_pcm = nullptr;
};

// Without the library there is no device to play on.
void PlayOnDevice(const AlsaLibrary* alsa, const PcmSound& sound,
                  const std::function<bool()>& stop) {
    if (alsa == nullptr || sound.samples.empty()) {
        return;
    }
    Pcm pcm(*alsa);
    if (pcm.Open(sound)) {
        pcm.Play(sound, stop);
        return;
    }
    if (sound.channels == 1) {
        // Some devices take only stereo.
        PcmSound stereo{sound.rate, 2, {}};
        stereo.samples.reserve(sound.samples.size() * 2);
        for (std::int16_t s : sound.samples) {
            stereo.samples.push_back(s);
            stereo.samples.push_back(s);
        }
        Pcm second(*alsa);
        if (second.Open(stereo)) {
            second.Play(stereo, stop);
        }
    }
}

// Plays wave files one at a time on a thread of its own, so Play returns at
// once; a newer request or a purge ends the sound being played.
class AlsaSoundPlayer : public SoundPlayer {
public:
    explicit AlsaSoundPlayer(std::string libraryFile) : m_libraryFile(std::move(libraryFile)) {}

    void Play(const std::string& path) override {
        {
            std::lock_guard lock(m_mutex);
            m_pending = path;
            ++m_generation;
            StartThreadLocked();
        }
        m_wake.notify_all();
    }

    void Purge() override {
        {
            std::lock_guard lock(m_mutex);
            m_pending.reset();
            ++m_generation;
        }
        m_wake.notify_all();
    }

    void Beep(unsigned frequency, unsigned milliseconds) override {
        PlayOnDevice(LoadAlsaLibrary(m_libraryFile), MakeTone(frequency, milliseconds),
                     [] { return false; });
    }

    // The sound playing stops; the thread ends and is waited for.
    ~AlsaSoundPlayer() override {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
            m_pending.reset();
            ++m_generation;
        }
        m_wake.notify_all();
        m_thread = Thread();
    }

private:
    void StartThreadLocked() {
        if (!m_thread.Joinable()) {
            m_thread = Thread([this] { Run(); });
        }
    }

    void Run() {
        while (true) {
            std::string path;
            std::uint64_t generation;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_pending.has_value() || m_quit; });
                if (m_quit) {
                    return;
                }
                path = std::move(*m_pending);
                m_pending.reset();
                generation = m_generation;
            }
            auto sound = LoadWaveFile(path);
            if (!sound) {
                continue;
            }
            PlayOnDevice(LoadAlsaLibrary(m_libraryFile), *sound,
                         [&] { return m_generation.load() != generation; });
        }
    }

    const std::string m_libraryFile;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_pending;
    std::atomic<std::uint64_t> m_generation{0};
    bool m_quit = false;
    Thread m_thread;  // last: it goes first, before what it uses
};

}  // namespace

std::shared_ptr<SoundPlayer> OpenAlsaSoundPlayer(const std::string& libraryFile) {
    return std::make_shared<AlsaSoundPlayer>(libraryFile);
}

std::shared_ptr<SoundPlayer> SystemSoundPlayer() {
    // Ended after main, when nothing plays any more.
    static const auto player = OpenAlsaSoundPlayer(kAlsaLibraryFile);
    return player;
}

}  // namespace quorvel::platform
