#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "actions/action.h"
#include "actions/sound_action.h"
#include "platform/sound_player.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::WaitFor;

void PutU16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
void PutU32(std::string& s, std::uint32_t v) {
    PutU16(s, v & 0xffff);
    PutU16(s, v >> 16);
}

// A RIFF WAVE file with the given format and raw sample bytes; extra chunks
// may be placed before "fmt ".
std::string Wave(unsigned format, unsigned channels, unsigned rate, unsigned bits,
                 const std::string& data, const std::string& before = "", bool extensible = false) {
    std::string fmt;
    PutU16(fmt, extensible ? 0xFFFE : format);
    PutU16(fmt, channels);
    PutU32(fmt, rate);
    PutU32(fmt, rate * channels * bits / 8);
    PutU16(fmt, channels * bits / 8);
    PutU16(fmt, bits);
    if (extensible) {
        PutU16(fmt, 22);
        PutU16(fmt, bits);
        PutU32(fmt, 0);
        PutU16(fmt, format);  // sub-format GUID: the format code, then a fixed tail
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string body = "WAVE" + before + "fmt ";
    PutU32(body, fmt.size());
    body += fmt + "data";
    PutU32(body, data.size());
    body += data;
    std::string file = "RIFF";
    PutU32(file, body.size());
    return file + body;
}

std::string S16(const std::vector<std::int16_t>& samples) {
    std::string s;
    for (auto v : samples) {
        PutU16(s, static_cast<std::uint16_t>(v));
    }
    return s;
}

std::string F32(const std::vector<float>& samples) {
    std::string s;
    for (float f : samples) {
        std::uint32_t raw;
        std::memcpy(&raw, &f, 4);
        PutU32(s, raw);
    }
    return s;
}

std::vector<std::int16_t> Decoded(const std::string& file) {
    auto sound = platform::DecodeWave(file);
    return sound ? sound->samples : std::vector<std::int16_t>{12345};
}

TEST(WaveDecoderTest, ReadsEveryIntegerWidthAndFloat) {
    auto s16 = platform::DecodeWave(Wave(1, 2, 22050, 16, S16({1, -2, 32767, -32768})));
    ASSERT_TRUE(s16);
    EXPECT_EQ(s16->rate, 22050u);
    EXPECT_EQ(s16->channels, 2u);
    EXPECT_EQ(s16->samples, (std::vector<std::int16_t>{1, -2, 32767, -32768}));

    EXPECT_EQ(Decoded(Wave(1, 1, 8000, 8, std::string("\x80\xff\x00", 3))),
              (std::vector<std::int16_t>{0, 32512, -32768}));
    EXPECT_EQ(Decoded(Wave(1, 1, 8000, 24, std::string("\x00\x34\x12\xff\xff\xff", 6))),
              (std::vector<std::int16_t>{0x1234, -1}));
    EXPECT_EQ(Decoded(Wave(1, 1, 8000, 32, std::string("\x00\x00\x34\x12", 4))),
              (std::vector<std::int16_t>{0x1234}));
    EXPECT_EQ(Decoded(Wave(3, 1, 48000, 32, F32({0.5f, -1.0f, 2.0f, 0.0f}))),
              (std::vector<std::int16_t>{16384, -32767, 32767, 0}));
    EXPECT_EQ(Decoded(Wave(3, 1, 48000, 32, F32({-0.5f}), "", true)),
              (std::vector<std::int16_t>{-16384}));
    EXPECT_EQ(Decoded(Wave(1, 1, 8000, 16, S16({7}), "", true)), (std::vector<std::int16_t>{7}));
}

TEST(WaveDecoderTest, SkipsOtherChunksAndKeepsTheCompleteFramesOfACutFile) {
    std::string list = "LIST";
    PutU32(list, 3);
    list += std::string("abc\0", 4);  // odd size, padded
    EXPECT_EQ(Decoded(Wave(1, 1, 8000, 16, S16({5, 6}), list)), (std::vector<std::int16_t>{5, 6}));

    std::string cut = Wave(1, 2, 8000, 16, S16({1, 2, 3, 4}));
    cut.resize(cut.size() - 3);  // the second frame is incomplete
    EXPECT_EQ(Decoded(cut), (std::vector<std::int16_t>{1, 2}));
}

TEST(WaveDecoderTest, RejectsWhatItCannotPlay) {
    EXPECT_FALSE(platform::DecodeWave(""));
    EXPECT_FALSE(platform::DecodeWave("RIFF\x04\x00\x00\x00WAVX"));
    EXPECT_FALSE(platform::DecodeWave(Wave(2, 1, 8000, 4, "abcd")));           // ADPCM
    EXPECT_FALSE(platform::DecodeWave(Wave(1, 3, 8000, 16, S16({1, 2, 3}))));  // three channels
    EXPECT_FALSE(platform::DecodeWave(Wave(1, 1, 8000, 12, "ab")));
    EXPECT_FALSE(platform::DecodeWave(Wave(3, 1, 8000, 64, std::string(8, '\0'))));
    std::string dataFirst = "RIFF....WAVEdata";
    PutU32(dataFirst, 0);
    EXPECT_FALSE(platform::DecodeWave(dataFirst));
    EXPECT_FALSE(platform::LoadWaveFile("/nonexistent/sound.wav"));
}

// Points the sound library at a configuration whose default device writes
// each sound it plays to a file of its own (out.raw, out.raw.0001, ...) and
// plays nothing.
class AlsaOutput {
public:
    AlsaOutput(const test::TempDir& dir, bool device = true) : m_dir(dir.Path() / "pcm") {
        fs::create_directories(m_dir);
        std::string conf = device ? "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                    "  file \"" +
                                        (m_dir / "out.raw").string() +
                                        "\"\n  format \"raw\"\n  truncate false\n}\n"
                                  : "pcm.!default {\n  type hw\n  card 31\n}\n";
        std::string path = dir.Write("asound.conf", conf);
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    ~AlsaOutput() { ::unsetenv("ALSA_CONFIG_PATH"); }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(m_dir, ec)) {
            names.push_back(e.path().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::int16_t> Samples(const std::string& file) const {
        std::string raw = test::ReadFile(file);
        std::vector<std::int16_t> samples(raw.size() / 2);
        std::memcpy(samples.data(), raw.data(), samples.size() * 2);
        return samples;
    }
    // True once count sounds were written whole, with the given sizes.
    bool WaitForSizes(const std::vector<std::size_t>& sizes) const {
        return WaitFor([&] {
            auto files = Files();
            if (files.size() != sizes.size()) {
                return false;
            }
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (test::ReadFile(files[i]).size() != sizes[i]) {
                    return false;
                }
            }
            return true;
        });
    }

private:
    fs::path m_dir;
};

// Points the default device at a named pipe that the test reads, so the
// player's writes wait for the reader as they would for a real device that
// plays in real time; the pipe's capacity bounds how far the player can run
// ahead of what was read.
class PipeOutput {
public:
    explicit PipeOutput(const test::TempDir& dir) : m_fifo(dir / "pcm.fifo") {
        m_ok = ::mkfifo(m_fifo.c_str(), 0600) == 0;
        std::string path = dir.Write("asound.conf",
                                     "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                     "  file \"" +
                                         m_fifo + "\"\n  format \"raw\"\n  truncate true\n}\n");
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
        // A reader that gave up must not take the test process down.
        ::signal(SIGPIPE, SIG_IGN);
    }
    ~PipeOutput() { ::unsetenv("ALSA_CONFIG_PATH"); }
    PipeOutput(const PipeOutput&) = delete;
    PipeOutput& operator=(const PipeOutput&) = delete;

    bool Ok() const { return m_ok; }

    // Reads what the player writes for one sound, from the moment it opens
    // the device until it closes it. Once `after` bytes have arrived, calls
    // then() while the player is held up by the unread pipe, and reads on.
    // Nothing when the deadline passed first.
    std::optional<std::string> ReadSound(std::size_t after = 0,
                                         const std::function<void()>& then = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int fd = ::open(m_fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return std::nullopt;
        }
        std::string data;
        bool called = !then;
        std::vector<char> buffer(4096);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!called && data.size() >= after) {
                called = true;
                then();
            }
            // Until a writer has opened the pipe, poll reports nothing.
            struct pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n == 0) {
                ::close(fd);
                return data;  // the player closed the device
            }
            if (n > 0) {
                data.append(buffer.data(), static_cast<std::size_t>(n));
            }
        }
        ::close(fd);
        return std::nullopt;
    }

private:
    std::string m_fifo;
    bool m_ok = false;
};

std::vector<std::int16_t> AsSamples(const std::string& raw) {
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

int ZeroCrossings(const std::vector<std::int16_t>& samples) {
    int crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) {
            ++crossings;
        }
    }
    return crossings;
}

class SoundPlayerTest : public test::TempDirTest {
protected:
    void SetUp() override { platform::SetSoundPlayer(nullptr); }
};

TEST_F(SoundPlayerTest, PlaysTheSamplesOfAWaveFileOnTheDefaultDevice) {
    AlsaOutput output(m_dir);
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 4000; ++i) {
        samples.push_back(static_cast<std::int16_t>(i * 7 - 14000));
    }
    std::string wav = m_dir.Write("s.wav", Wave(1, 2, 22050, 16, S16(samples)));
    platform::CurrentSoundPlayer()->Play(wav);
    ASSERT_TRUE(output.WaitForSizes({samples.size() * 2}));
    EXPECT_EQ(output.Samples(output.Files()[0]), samples);

    // Float input arrives as 16-bit samples of the same values.
    std::string floats = m_dir.Write("f.wav", Wave(3, 1, 44100, 32, F32({0.25f, -0.25f, 1.0f})));
    platform::CurrentSoundPlayer()->Play(floats);
    ASSERT_TRUE(output.WaitForSizes({samples.size() * 2, 6}));
    EXPECT_EQ(output.Samples(output.Files()[1]), (std::vector<std::int16_t>{8192, -8192, 32767}));
}

TEST_F(SoundPlayerTest, TheBeepIsA700HzToneOfAQuarterSecond) {
    AlsaOutput output(m_dir);
    platform::CurrentSoundPlayer()->Beep(700, 250);
    ASSERT_TRUE(output.WaitForSizes({44100 / 4 * 2}));
    int crossings = ZeroCrossings(output.Samples(output.Files()[0]));
    EXPECT_NEAR(crossings, 2 * 700 / 4, 4);
}

TEST_F(SoundPlayerTest, MissingFilesAndMissingDevicesPlayNothingAndNeverFail) {
    {
        AlsaOutput output(m_dir);
        platform::CurrentSoundPlayer()->Play(m_dir / "missing.wav");
        platform::CurrentSoundPlayer()->Play(m_dir.Write("bad.wav", "not a wave"));
        platform::CurrentSoundPlayer()->Beep(700, 10);  // written after whatever came before
        ASSERT_TRUE(output.WaitForSizes({441 * 2}));
    }
    test::TempDir other;
    AlsaOutput none(other, false);
    std::string wav = other.Write("s.wav", Wave(1, 1, 8000, 16, S16({1, 2, 3})));
    platform::CurrentSoundPlayer()->Play(wav);
    platform::CurrentSoundPlayer()->Beep(700, 250);
    platform::CurrentSoundPlayer()->Purge();
    EXPECT_TRUE(none.Files().empty());
}

// A sound far longer than the pipe and the device buffer together: if the
// player went on writing it after being told to stop, the reader would see
// all of it.
constexpr std::size_t kLongSamples = 1000000;  // about 23 s at 44.1 kHz
constexpr std::size_t kReadBeforeStop = 32 * 1024;
constexpr std::size_t kMostAfterStop = kLongSamples;  // bytes: half the sound

TEST_F(SoundPlayerTest, PurgeStopsTheSoundBeingPlayed) {
    PipeOutput output(m_dir);
    ASSERT_TRUE(output.Ok());
    std::string wav = m_dir.Write(
        "long.wav", Wave(1, 1, 44100, 16, S16(std::vector<std::int16_t>(kLongSamples, 1000))));
    auto player = platform::CurrentSoundPlayer();
    player->Play(wav);
    auto written = output.ReadSound(kReadBeforeStop, [&] { player->Purge(); });
    ASSERT_TRUE(written) << "the player never closed the device after the purge";
    EXPECT_GE(written->size(), kReadBeforeStop);
    EXPECT_LT(written->size(), kMostAfterStop);
    auto samples = AsSamples(*written);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](auto v) { return v == 1000; }));

    // The player stays usable: the next sound is written whole.
    std::string shortWav = m_dir.Write("short.wav", Wave(1, 1, 44100, 16, S16({7, -7, 7})));
    player->Play(shortWav);
    auto next = output.ReadSound();
    ASSERT_TRUE(next);
    EXPECT_EQ(AsSamples(*next), (std::vector<std::int16_t>{7, -7, 7}));
}

TEST_F(SoundPlayerTest, ANewSoundStopsTheOneStillPlaying) {
    PipeOutput output(m_dir);
    ASSERT_TRUE(output.Ok());
    std::string first = m_dir.Write(
        "first.wav", Wave(1, 1, 44100, 16, S16(std::vector<std::int16_t>(kLongSamples, 1000))));
    std::vector<std::int16_t> secondSamples(20000, -2000);
    std::string second = m_dir.Write("second.wav", Wave(1, 1, 44100, 16, S16(secondSamples)));
    auto player = platform::CurrentSoundPlayer();
    player->Play(first);
    auto cut = output.ReadSound(kReadBeforeStop, [&] { player->Play(second); });
    ASSERT_TRUE(cut) << "the first sound never ended";
    auto samples = AsSamples(*cut);
    // When the second sound opened the device before the reader had seen the
    // first one close, both arrive as one stream.
    if (std::find(samples.begin(), samples.end(), -2000) == samples.end()) {
        auto rest = output.ReadSound();
        ASSERT_TRUE(rest) << "the second sound never ended";
        auto more = AsSamples(*rest);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    // Some of the first sound, cut short, then all of the second.
    auto firstEnd = std::find_if(samples.begin(), samples.end(), [](auto v) { return v != 1000; });
    const auto firstBytes = static_cast<std::size_t>(firstEnd - samples.begin()) * 2;
    EXPECT_GE(firstBytes, kReadBeforeStop);
    EXPECT_LT(firstBytes, kMostAfterStop);
    EXPECT_EQ(std::vector<std::int16_t>(firstEnd, samples.end()), secondSamples);
}

// Records what the sound action asks of the sound output.
class RecordingPlayer : public platform::SoundPlayer {
public:
    void Play(const std::string& path) override {
        std::lock_guard lock(m_mutex);
        m_plays.push_back(path);
    }
    void Purge() override {}
    void Beep(unsigned frequency, unsigned milliseconds) override {
        std::lock_guard lock(m_mutex);
        m_beeps.push_back(frequency * 10000 + milliseconds);
    }
    std::vector<std::string> Plays() {
        std::lock_guard lock(m_mutex);
        return m_plays;
    }
    std::vector<unsigned> Beeps() {
        std::lock_guard lock(m_mutex);
        return m_beeps;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_plays;
    std::vector<unsigned> m_beeps;
};

std::unique_ptr<SoundAction> Sound(std::initializer_list<const char*> lines) {
    auto action = std::make_unique<SoundAction>();
    for (const char* line : lines) {
        action->Params().ParseLine(line);
    }
    return action;
}

class SoundActionTest : public test::TempDirTest {
protected:
    void SetUp() override { platform::SetSoundPlayer(m_player); }
    void TearDown() override { platform::SetSoundPlayer(nullptr); }

    std::shared_ptr<RecordingPlayer> m_player = std::make_shared<RecordingPlayer>();
    PlainRunControl m_control;
};

TEST_F(SoundActionTest, WithoutIntervalPlaysOnceAndBeepsOnce) {
    auto sound = Sound({"WaveFile=%File", "Beep=1"});
    FileList files{FileData(std::string("/snd/ding.wav"), DateTime(40000.0), 1, FileKind::Added)};
    EXPECT_TRUE(sound->Execute(files, DateTime(40000.0), m_control));
    ASSERT_TRUE(WaitFor([&] { return sound->RunningLoops() == 0; }));
    EXPECT_EQ(m_player->Plays(), (std::vector<std::string>{"/snd/ding.wav"}));
    EXPECT_EQ(m_player->Beeps(), (std::vector<unsigned>{700 * 10000 + 250}));
    EXPECT_EQ(sound->ExpandedWaveFile(), "/snd/ding.wav");
}

TEST_F(SoundActionTest, APeriodBelowTheMinimumIsReadAsTheMinimum) {
    auto sound = Sound({"SndPeriod=50"});
    EXPECT_EQ(sound->SndPeriod(), 100);
}

TEST_F(SoundActionTest, RepeatsForTheIntervalAtMostOncePerPeriod) {
    auto sound = Sound({"WaveFile=r.wav", "SndInterval=1", "SndPeriod=250"});
    sound->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return sound->RunningLoops() == 0; }));
    // Starts at 0, 0.25, 0.5 and 0.75 s at most; a slow machine sees fewer.
    EXPECT_GE(m_player->Plays().size(), 1u);
    EXPECT_LE(m_player->Plays().size(), 4u);
}

TEST_F(SoundActionTest, StopEndsTheLoopAndTheNextExecutionStartsAgain) {
    auto sound = Sound({"WaveFile=long.wav", "SndInterval=3600", "SndPeriod=100"});
    sound->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return m_player->Plays().size() >= 2; }));
    std::vector<std::unique_ptr<Action>> list;
    list.push_back(std::move(sound));
    StopSounds(list);
    auto* raw = static_cast<SoundAction*>(list[0].get());
    ASSERT_TRUE(WaitFor([&] { return raw->RunningLoops() == 0; }));
    EXPECT_TRUE(raw->StopRequested());

    const auto before = m_player->Plays().size();
    raw->Execute({}, DateTime(40000.0), m_control);
    EXPECT_FALSE(raw->StopRequested());
    ASSERT_TRUE(WaitFor([&] { return m_player->Plays().size() > before; }));
    raw->RequestStop();
    ASSERT_TRUE(WaitFor([&] { return raw->RunningLoops() == 0; }));
}

TEST_F(SoundActionTest, ARunningLoopKeepsTheNameItStartedWith) {
    auto sound = Sound({"WaveFile=first.wav", "SndInterval=3600", "SndPeriod=100"});
    sound->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return !m_player->Plays().empty(); }));
    sound->Params().ParseLine("WaveFile=second.wav");
    sound->Execute({}, DateTime(40000.0), m_control);
    EXPECT_EQ(sound->RunningLoops(), 2);
    // After the second loop began, the first one still plays its own file.
    ASSERT_TRUE(WaitFor([&] {
        auto plays = m_player->Plays();
        auto second = std::find(plays.begin(), plays.end(), "second.wav");
        return second != plays.end() && std::find(second, plays.end(), "first.wav") != plays.end();
    }));
    sound->RequestStop();
    ASSERT_TRUE(WaitFor([&] { return sound->RunningLoops() == 0; }));
}

TEST_F(SoundActionTest, DestroyingTheActionEndsItsLoops) {
    auto sound = Sound({"WaveFile=x.wav", "SndInterval=3600", "SndPeriod=5000", "Beep=1"});
    sound->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return !m_player->Plays().empty(); }));
    sound.reset();
    // Each loop holds the player while it runs; all of them let go.
    platform::SetSoundPlayer(nullptr);
    EXPECT_TRUE(WaitFor([&] { return m_player.use_count() == 1; }));
}

TEST_F(SoundActionTest, RepetitionsReachTheDeviceAndAMissingFileStillBeeps) {
    platform::SetSoundPlayer(nullptr);
    AlsaOutput output(m_dir);
    auto sound = Sound({"WaveFile=", "Beep=1"});
    sound->Params().ParseLine("WaveFile=" + m_dir / "missing.wav");
    sound->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return sound->RunningLoops() == 0; }));
    ASSERT_TRUE(output.WaitForSizes({44100 / 4 * 2}));

    test::TempDir second;
    AlsaOutput repeated(second);
    std::string wav = second.Write("tick.wav", Wave(1, 1, 8000, 16, S16({100, -100, 100})));
    auto ticks = Sound({"SndInterval=1", "SndPeriod=300"});
    ticks->Params().ParseLine("WaveFile=" + wav);
    ticks->Execute({}, DateTime(40000.0), m_control);
    ASSERT_TRUE(WaitFor([&] { return ticks->RunningLoops() == 0; }));
    // Every start of the sound reaches the device whole: 1 to 4 starts.
    ASSERT_TRUE(WaitFor([&] {
        auto files = repeated.Files();
        return !files.empty() && std::all_of(files.begin(), files.end(), [&](const auto& f) {
            return repeated.Samples(f) == std::vector<std::int16_t>{100, -100, 100};
        });
    }));
    EXPECT_LE(repeated.Files().size(), 4u);
}

}  // namespace
}  // namespace quorvel
