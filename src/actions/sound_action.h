#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "actions/action.h"

namespace quorvel {

/// Plays a wave file (and optionally beeps) once or repeatedly for a while,
/// from a thread of its own; a stop flag ends the repetition.
class SoundAction : public Action {
public:
    SoundAction();
    /// Raises the stop flag so that a running repeat loop ends.
    ~SoundAction() override;

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    /// Asks a running repeat loop to end; callable from any thread.
    void RequestStop() { m_stop.store(true, std::memory_order_release); }
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

    const std::string& WaveFile() const { return m_waveFile->Value(); }
    bool Beep() const { return m_beep->Value(); }
    int SndInterval() const { return m_sndInterval->Value(); }
    int SndPeriod() const { return m_sndPeriod->Value(); }

    /// The wave file name of the last run.
    std::string ExpandedWaveFile() const;

private:
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_waveMutex;
    std::string m_expandedWaveFile;
    StringParam* m_waveFile;
    BoolParam* m_beep;
    IntParam* m_sndInterval;
    IntParam* m_sndPeriod;
};

}  // namespace quorvel
