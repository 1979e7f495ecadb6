#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "platform/sound_player.h"

namespace quorvel::platform {

namespace {

std::uint32_t ReadU32(const std::string& d, std::size_t pos) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(d[pos])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d[pos + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d[pos + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d[pos + 3])) << 24;
}

std::uint16_t ReadU16(const std::string& d, std::size_t pos) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(d[pos]) |
                                      static_cast<unsigned char>(d[pos + 1]) << 8);
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::int16_t ClampToS16(double value) {
    double scaled = std::round(value * 32767.0);
    if (scaled > 32767.0) {
        return 32767;
    }
    if (scaled < -32768.0) {
        return -32768;
    }
    return static_cast<std::int16_t>(scaled);
}

std::int16_t DecodeSample(const char* p, unsigned bits, bool isFloat) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (isFloat) {
        std::uint32_t raw =
            static_cast<std::uint32_t>(u[0]) | static_cast<std::uint32_t>(u[1]) << 8 |
            static_cast<std::uint32_t>(u[2]) << 16 | static_cast<std::uint32_t>(u[3]) << 24;
        float f;
        std::memcpy(&f, &raw, sizeof f);
        if (!std::isfinite(f)) {
            return 0;
        }
        return ClampToS16(f);
    }
    switch (bits) {
        case 8:
            return static_cast<std::int16_t>((static_cast<int>(u[0]) - 128) * 256);
        case 16:
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(u[0] | u[1] << 8));
        case 24:
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(u[1] | u[2] << 8));
        default:  // 32
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(u[2] | u[3] << 8));
    }
}

}  // namespace

std::optional<PcmSound> DecodeWave(const std::string& d) {
    if (d.size() < 12 || d.compare(0, 4, "RIFF") != 0 || d.compare(8, 4, "WAVE") != 0) {
        return std::nullopt;
    }
    std::optional<std::uint16_t> format;
    unsigned channels = 0, rate = 0, blockAlign = 0, bits = 0;
    std::size_t pos = 12;
    while (pos + 8 <= d.size()) {
        std::string id = d.substr(pos, 4);
        std::uint64_t size = ReadU32(d, pos + 4);
        std::size_t body = pos + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > d.size()) {
                return std::nullopt;
            }
            format = ReadU16(d, body);
            channels = ReadU16(d, body + 2);
            rate = ReadU32(d, body + 4);
            blockAlign = ReadU16(d, body + 12);
            bits = ReadU16(d, body + 14);
            if (*format == kFormatExtensible && size >= 40 && body + 26 <= d.size()) {
                format = ReadU16(d, body + 24);  // first two bytes of the sub-format GUID
            }
        } else if (id == "data") {
            if (!format) {
                return std::nullopt;
            }
            const bool isFloat = *format == kFormatFloat;
            if ((*format != kFormatPcm && !isFloat) || (isFloat && bits != 32) ||
                (bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels < 1 ||
                channels > 2 || rate < 1000 || rate > 384000 ||
                blockAlign != channels * (bits / 8)) {
                return std::nullopt;
            }
            std::size_t available = std::min<std::uint64_t>(size, d.size() - body);
            std::size_t frames = available / blockAlign;
            PcmSound sound;
            sound.rate = rate;
            sound.channels = channels;
            sound.samples.reserve(frames * channels);
            const unsigned bytes = bits / 8;
            for (std::size_t i = 0; i < frames * channels; ++i) {
                sound.samples.push_back(DecodeSample(d.data() + body + i * bytes, bits, isFloat));
            }
            return sound;
        }
        pos = body + size + (size & 1);  // chunks are padded to an even size
    }
    return std::nullopt;
}

std::optional<PcmSound> LoadWaveFile(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    auto data = ReadWholeFile(path);
    if (!data) {
        return std::nullopt;
    }
    return DecodeWave(*data);
}

PcmSound MakeTone(unsigned frequency, unsigned milliseconds, unsigned rate) {
    PcmSound tone;
    tone.rate = rate;
    tone.channels = 1;
    const std::size_t frames = static_cast<std::size_t>(rate) * milliseconds / 1000;
    tone.samples.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        tone.samples[i] = ClampToS16(0.5 * std::sin(2.0 * std::numbers::pi * frequency * t));
    }
    return tone;
}

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

private:
    void StartThreadLocked() {
        if (!m_started) {
            m_started = true;
            // The player lives as long as the process; the thread is never joined.
            std::thread([this] { Run(); }).detach();
        }
    }

    void Run() {
        while (true) {
            std::string path;
            std::uint64_t generation;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_pending.has_value(); });
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
    bool m_started = false;
};

std::mutex g_playerMutex;
std::shared_ptr<SoundPlayer> g_player;

std::shared_ptr<SoundPlayer> SystemPlayer() {
    static AlsaSoundPlayer* player = new AlsaSoundPlayer();  // its thread may run until exit
    return std::shared_ptr<SoundPlayer>(player, [](SoundPlayer*) {});
}

}  // namespace

std::shared_ptr<SoundPlayer> CurrentSoundPlayer() {
    std::lock_guard lock(g_playerMutex);
    if (!g_player) {
        g_player = SystemPlayer();
    }
    return g_player;
}

void SetSoundPlayer(std::shared_ptr<SoundPlayer> player) {
    std::lock_guard lock(g_playerMutex);
    g_player = std::move(player);
}

}  // namespace quorvel::platform
