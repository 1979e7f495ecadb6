#include "actions/kill_action.h"

namespace quorvel {

KillAction::KillAction() : Action(ActionKind::Kill, ActionKindCaption(5)) {
    m_titleMask = &m_params.Add<StringParam>("killTitleMask", "");
    m_closeAll = &m_params.Add<BoolParam>("killCloseAll", false);
    m_forcedKill = &m_params.Add<BoolParam>("killForcedKill", false);
}

std::string KillAction::Describe() const { return m_titleMask->Value(); }

bool KillAction::Execute(const FileList& /*files*/, DateTime /*runStart*/,
                         RunControl& /*control*/) {
    return true;
}

}  // namespace quorvel
