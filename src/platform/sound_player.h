#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::platform {

/// Decoded sound: interleaved signed 16-bit samples.
struct PcmSound {
    unsigned rate = 0;      ///< frames per second
    unsigned channels = 0;  ///< 1 or 2
    std::vector<std::int16_t> samples;
};

/// Decodes a RIFF WAVE file: integer PCM of 8, 16, 24 or 32 bits and 32-bit
/// float (also in the extensible format), one or two channels, any rate.
/// Nothing when the file is missing, unreadable or in another format; a file
/// cut short keeps the frames that are complete.
std::optional<PcmSound> DecodeWave(const std::string& data);

/// Reads and decodes a wave file; nothing when it cannot be read or decoded.
std::optional<PcmSound> LoadWaveFile(const std::string& path);

/// A 16-bit mono sine tone.
PcmSound MakeTone(unsigned frequency, unsigned milliseconds, unsigned rate = 44100);

/// Plays sounds on the system's default sound output. One wave sound plays
/// at a time per process. Without a sound device nothing is heard and
/// nothing fails; no call blocks longer than the sound it plays.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    /// Starts playing a wave file and returns at once; a sound still
    /// playing stops. A file that cannot be played plays nothing (there is
    /// no fallback sound).
    virtual void Play(const std::string& path) = 0;
    /// Stops the wave sound now playing, at once.
    virtual void Purge() = 0;
    /// Sounds a tone and returns when it has been played.
    virtual void Beep(unsigned frequency, unsigned milliseconds) = 0;
};

/// The sound output that actions use: the system's default device unless a
/// program or test set another. Safe to call from any thread.
std::shared_ptr<SoundPlayer> CurrentSoundPlayer();

/// Replaces the process-wide sound output (nullptr restores the system one).
void SetSoundPlayer(std::shared_ptr<SoundPlayer> player);

}  // namespace quorvel::platform
