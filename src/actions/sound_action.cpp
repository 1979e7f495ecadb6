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
constexpr auto kHandOver = std::chrono::milliseconds(120);

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
    if (Enabled()) {
        // Give running loops the time of one slice to see the flag. They
        // share nothing with this object, so one that takes longer (in the
        // middle of a beep) is still safe.
        std::unique_lock lock(m_loops->mutex);
        m_loops->changed.wait_for(lock, kHandOver, [&] { return m_loops->running == 0; });
    }
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

bool SoundAction::Execute(const FileList& files, DateTime runStart, RunControl& /*control*/) {
    try {
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
            try {
                RepeatLoop(*state, settings);
            } catch (...) {
            }
            std::lock_guard lock(state->mutex);
            --state->running;
            state->changed.notify_all();
        };
        if (!platform::StartDetachedThread(std::move(body), 512 * 1024)) {
            std::lock_guard lock(state->mutex);
            --state->running;
        }
    } catch (...) {
        // A sound that cannot be started never stops the chain.
    }
    return true;
}

}  // namespace quorvel
