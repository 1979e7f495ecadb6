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
#include "platform/system_defaults.h"

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

std::mutex g_playerMutex;
std::shared_ptr<SoundPlayer> g_player;

}  // namespace

std::shared_ptr<SoundPlayer> CurrentSoundPlayer() {
    std::lock_guard lock(g_playerMutex);
    if (!g_player) {
        g_player = SystemSoundPlayer();
    }
    return g_player;
}

void SetSoundPlayer(std::shared_ptr<SoundPlayer> player) {
    std::lock_guard lock(g_playerMutex);
    g_player = std::move(player);
}

}  // namespace quorvel::platform
