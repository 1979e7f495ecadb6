#include "actions/sound_action.h"

#include <cstdint>
#include <limits>

namespace quorvel {

SoundAction::SoundAction() : Action(ActionKind::Sound, ActionKindCaption(3)) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    m_waveFile = &m_params.Add<StringParam>("WaveFile", "");
    m_beep = &m_params.Add<BoolParam>("Beep", false);
    m_sndInterval = &m_params.Add<IntParam>("SndInterval", 0, 0, kMax);
    m_sndPeriod = &m_params.Add<IntParam>("SndPeriod", 100, 100, kMax);
}

SoundAction::~SoundAction() { RequestStop(); }

std::string SoundAction::Describe() const { return m_waveFile->Value(); }

std::string SoundAction::ExpandedWaveFile() const {
    std::lock_guard lock(m_waveMutex);
    return m_expandedWaveFile;
}

bool SoundAction::Execute(const FileList& /*files*/, DateTime /*runStart*/,
                          RunControl& /*control*/) {
    return true;
}

}  // namespace quorvel
