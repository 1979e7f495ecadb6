#include <alsa/asoundlib.h>

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

#include "platform/sound_player.h"
#include "platform/thread.h"
#include "platform/system_defaults.h"

namespace quorvel::platform {

namespace {

void SilentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

// Owns an open PCM.
class Pcm {
public:
    Pcm() = default;
    ~Pcm() {
        if (m_pcm != nullptr) {
            snd_pcm_close(m_pcm);
        }
    }
    Pcm(const Pcm&) = delete;
    Pcm& operator=(const Pcm&) = delete;

    // Opens the default device without waiting for a busy one and sets it up
    // for the sound's format; the plug layer of the default device converts
    // the rate where the hardware needs another one.
    bool Open(const PcmSound& sound) {
        static std::once_flag quiet;
        std::call_once(quiet, [] { snd_lib_error_set_handler(SilentErrorHandler); });
        if (snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            m_pcm = nullptr;
            return false;
        }
        return snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
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
                snd_pcm_drop(m_pcm);
                return;
            }
            snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, sound.samples.data() + done * channels,
                                                 std::min<std::size_t>(totalFrames - done, 4096));
            if (n == -EAGAIN) {
                snd_pcm_wait(m_pcm, 50);
                continue;
            }
            if (n < 0) {
                if (snd_pcm_recover(m_pcm, static_cast<int>(n), 1) < 0) {
                    return;
                }
                continue;
            }
            done += static_cast<std::size_t>(n);
        }
        snd_pcm_drain(m_pcm);  // non-blocking: starts draining and returns
        while (true) {
            snd_pcm_state_t state = snd_pcm_state(m_pcm);
            if (state != SND_PCM_STATE_DRAINING && state != SND_PCM_STATE_RUNNING &&
                state != SND_PCM_STATE_PREPARED) {
                return;
            }
            if (state == SND_PCM_STATE_PREPARED) {
                // Fewer frames than the start threshold never started by themselves.
                if (snd_pcm_start(m_pcm) < 0) {
                    return;
                }
                snd_pcm_drain(m_pcm);
                continue;
            }
            if (stop() || Clock::now() > deadline) {
                snd_pcm_drop(m_pcm);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    snd_pcm_t* m_pcm = nullptr;
};

void PlayOnDevice(const PcmSound& sound, const std::function<bool()>& stop) {
    if (sound.samples.empty()) {
        return;
    }
    Pcm pcm;
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
        Pcm second;
        if (second.Open(stereo)) {
            second.Play(stereo, stop);
        }
    }
}

// Plays wave files one at a time on a thread of its own, so Play returns at
// once; a newer request or a purge ends the sound being played.
class AlsaSoundPlayer : public SoundPlayer {
public:
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
        PlayOnDevice(MakeTone(frequency, milliseconds), [] { return false; });
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
            PlayOnDevice(*sound, [&] { return m_generation.load() != generation; });
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::string> m_pending;
    std::atomic<std::uint64_t> m_generation{0};
    bool m_quit = false;
    Thread m_thread;  // last: it goes first, before what it uses
};

}  // namespace

std::shared_ptr<SoundPlayer> SystemSoundPlayer() {
    // Ended after main, when nothing plays any more.
    static const auto player = std::make_shared<AlsaSoundPlayer>();
    return player;
}

}  // namespace quorvel::platform
