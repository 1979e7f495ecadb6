#include "actions/popup_action.h"

namespace quorvel {

PopupAction::PopupAction() : Action(ActionKind::Popup, ActionKindCaption(2)) {
    m_message = &m_params.Add<StringParam>("Message", "");
    m_popupWait = &m_params.Add<BoolParam>("PopupWait", false);
    m_yesNoButton = &m_params.Add<BoolParam>("YesNoButton", false);
    m_alwaysOnTop = &m_params.Add<BoolParam>("AlwaysOnTop", false);
    m_serviceNotification = &m_params.Add<BoolParam>("ServiceNotification", false);
}

std::string PopupAction::Describe() const { return m_message->Value(); }

std::string PopupAction::ExpandedMessage() const {
    std::lock_guard lock(m_messageMutex);
    return m_expandedMessage;
}

bool PopupAction::Execute(const FileList& /*files*/, DateTime /*runStart*/,
                          RunControl& /*control*/) {
    return true;
}

}  // namespace quorvel
