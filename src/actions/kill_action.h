#pragma once

#include <string>

#include "actions/action.h"

namespace quorvel {

/// Closes or terminates the programs whose top-level window titles match an
/// expanded wildcard mask: the first match or every match.
class KillAction : public Action {
public:
    KillAction();

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    std::string TitleMask() const { return m_titleMask->Value(); }
    bool CloseAll() const { return m_closeAll->Value(); }
    bool ForcedKill() const { return m_forcedKill->Value(); }

private:
    StringParam* m_titleMask;
    BoolParam* m_closeAll;
    BoolParam* m_forcedKill;
};

}  // namespace quorvel
