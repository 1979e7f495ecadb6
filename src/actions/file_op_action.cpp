#include "actions/file_op_action.h"

#include "actions/action_text.h"

namespace quorvel {

FileOpAction::FileOpAction() : Action(ActionKind::FileOp, ActionKindCaption(4)) {
    m_opIndex = &m_params.Add<IntParam>("OpIndex", 0, 0, 3);
    m_source = &m_params.Add<StringParam>("OpSource", "");
    m_destination = &m_params.Add<StringParam>("OpDestination", "");
    m_allowUndo = &m_params.Add<BoolParam>("AllowUndo", false);
    m_showProgress = &m_params.Add<BoolParam>("ShowProgress", true);
    m_yesToAll = &m_params.Add<BoolParam>("YesToAll", true);
    m_filesOnly = &m_params.Add<BoolParam>("OpFilesOnly", false);
    m_singleArg = &m_params.Add<BoolParam>("OpSingleArg", false);
}

std::string FileOpAction::OperationLabel(int opIndex) {
    // String table entries 13 to 16: copy, move, rename, delete.
    if (opIndex < 0 || opIndex > 3) {
        return {};
    }
    return ActionText(13 + opIndex);
}

std::string FileOpAction::Describe() const {
    const int op = m_opIndex->Value();
    return OperationLabel(op) + m_source->Value() + " " +
           (op == Delete ? std::string() : m_destination->Value());
}

bool FileOpAction::Execute(const FileList& /*files*/, DateTime /*runStart*/,
                           RunControl& /*control*/) {
    return true;
}

}  // namespace quorvel
