#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "actions/action.h"
#include "platform/thread.h"

namespace quorvel {

/// Plays a wave file (and optionally beeps) once or repeatedly for a while,
/// from a thread the action owns; a stop flag ends the repetition.
class SoundAction : public Action {
public:
    SoundAction();
    /// Raises the stop flag and waits for the repeat loops to end (each
    /// sees it within a tenth of a second, or at the end of a beep).
    ~SoundAction() override;

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    /// Asks every running repeat loop of this action to end; callable from
    /// any thread. The next execution clears the request.
    void RequestStop();
    bool StopRequested() const;
    /// Repeat loops of this action still running.
    int RunningLoops() const;

    std::string WaveFile() const { return m_waveFile->Value(); }
    bool Beep() const { return m_beep->Value(); }
    int SndInterval() const { return m_sndInterval->Value(); }
    int SndPeriod() const { return m_sndPeriod->Value(); }

    /// The wave file name of the last run.
    std::string ExpandedWaveFile() const;

    /// Shared by the action and its repeat loops, so a loop never touches
    /// the action itself.
    struct LoopState;

private:
    std::shared_ptr<LoopState> m_loops;
    std::mutex m_threadsMutex;
    std::vector<platform::Thread> m_threads;
    mutable std::mutex m_waveMutex;
    std::string m_expandedWaveFile;
    StringParam* m_waveFile;
    BoolParam* m_beep;
    IntParam* m_sndInterval;
    IntParam* m_sndPeriod;
};

}  // namespace quorvel
