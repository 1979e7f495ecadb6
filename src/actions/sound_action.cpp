#include "actions/sound_action.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "platform/sound_player.h"
#include "platform/thread.h"

namespace quorvel {

struct SoundAction::LoopState {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
};

namespace {

constexpr int kSliceMs = 100;
constexpr unsigned kBeepHz = 700;
constexpr unsigned kBeepMs = 250;

// What one repeat loop works with: copies taken when it starts, so a later
// execution or a change of the settings does not reach a loop in progress.
struct LoopSettings {
    std::string waveFile;
    bool beep = false;
    int interval = 0;  // seconds
    int period = 100;  // milliseconds
};

void RepeatLoop(SoundAction::LoopState& state, const LoopSettings& settings) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const int fullSlices = settings.period / kSliceMs;
    const int remainder = settings.period % kSliceMs;
    const int slices = fullSlices + (remainder != 0 ? 1 : 0);
    auto player = platform::CurrentSoundPlayer();
    while (!state.stop.load()) {
        player->Play(settings.waveFile);
        if (settings.beep) {
            player->Beep(kBeepHz, kBeepMs);
        }
        if (settings.interval > 0) {
            for (int i = 0; i < slices; ++i) {
                const int length = (i == slices - 1 && remainder != 0) ? remainder : kSliceMs;
                std::unique_lock lock(state.mutex);
                if (state.changed.wait_for(lock, std::chrono::milliseconds(length),
                                           [&] { return state.stop.load(); })) {
                    break;
                }
            }
        }
        const double elapsed =
            std::chrono::duration<double>(Clock::now() - start).count();  // seconds
        if (!(settings.interval > elapsed)) {
            break;
        }
    }
}

}  // namespace

SoundAction::SoundAction()
    : Action(ActionKind::Sound, ActionKindCaption(ActionKind::Sound)),
      m_loops(std::make_shared<LoopState>()) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    m_waveFile = &m_params.Add<StringParam>("WaveFile", "");
    m_beep = &m_params.Add<BoolParam>("Beep", false);
    m_sndInterval = &m_params.Add<IntParam>("SndInterval", 0, 0, kMax);
    m_sndPeriod = &m_params.Add<IntParam>("SndPeriod", 100, 100, kMax);
}

SoundAction::~SoundAction() {
    RequestStop();
    // Each loop sees the flag within a slice (or at the end of a beep).
    std::vector<platform::Thread> threads;
    {
        std::lock_guard lock(m_threadsMutex);
        threads = std::move(m_threads);
    }
    threads.clear();
}

void SoundAction::RequestStop() {
    m_loops->stop.store(true);
    std::lock_guard lock(m_loops->mutex);
    m_loops->changed.notify_all();
}

bool SoundAction::StopRequested() const {
    return m_loops->stop.load();
}

int SoundAction::RunningLoops() const {
    std::lock_guard lock(m_loops->mutex);
    return m_loops->running;
}

std::string SoundAction::Describe() const {
    return m_waveFile->Value();
}

std::string SoundAction::ExpandedWaveFile() const {
    std::lock_guard lock(m_waveMutex);
    return m_expandedWaveFile;
}

bool SoundAction::Execute(const FileList& files, DateTime runStart, RunControl& control) {
    {
        m_loops->stop.store(false);
        LoopSettings settings;
        settings.waveFile = ExpandList(files, runStart, WaveFile(), 0, 0).text;
        {
            std::lock_guard lock(m_waveMutex);
            m_expandedWaveFile = settings.waveFile;
        }
        settings.beep = Beep();
        settings.interval = SndInterval();
        settings.period = std::max(SndPeriod(), kSliceMs);
        std::shared_ptr<LoopState> state = m_loops;
        {
            std::lock_guard lock(state->mutex);
            ++state->running;
        }
        auto body = [state, settings = std::move(settings)] {
            RepeatLoop(*state, settings);
            std::lock_guard lock(state->mutex);
            --state->running;
            state->changed.notify_all();
        };
        std::lock_guard lock(m_threadsMutex);
        std::erase_if(m_threads, [](const platform::Thread& t) { return t.Finished(); });
        platform::Thread thread(std::move(body), 512 * 1024);
        if (!thread.Joinable()) {
            std::lock_guard stateLock(state->mutex);
            --state->running;
            LogError(control, "No thread could be started to play the sound");
            return true;
        }
        m_threads.push_back(std::move(thread));
    }
    return true;  // the chain goes on while the sound plays
}

}  // namespace quorvel
