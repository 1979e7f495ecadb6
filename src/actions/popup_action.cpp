#include "actions/popup_action.h"

#include <memory>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "platform/message_box.h"
#include "settings/adv_string_list.h"

namespace quorvel {

PopupAction::PopupAction() : Action(ActionKind::Popup, ActionKindCaption(ActionKind::Popup)) {
    m_message = &m_params.Add<StringParam>("Message", "");
    m_popupWait = &m_params.Add<BoolParam>("PopupWait", false);
    m_yesNoButton = &m_params.Add<BoolParam>("YesNoButton", false);
    m_alwaysOnTop = &m_params.Add<BoolParam>("AlwaysOnTop", false);
    m_serviceNotification = &m_params.Add<BoolParam>("ServiceNotification", false);
}

std::string PopupAction::Describe() const {
    return m_message->Value();
}

std::string PopupAction::ExpandedMessage() const {
    std::lock_guard lock(m_messageMutex);
    return m_expandedMessage;
}

bool PopupAction::Execute(const FileList& files, DateTime runStart, RunControl& /*control*/) {
    {
        std::string text = ExpandList(files, runStart, Message(), 0, 0).text;
        {
            std::lock_guard lock(m_messageMutex);
            m_expandedMessage = text;
        }
        platform::MessageStyle style;
        style.alwaysOnTop = AlwaysOnTop();
        style.serviceNotification = ServiceNotification();
        std::shared_ptr<platform::MessageBox> box = platform::CurrentMessageBox();
        if (!box) {
            return true;  // nowhere to show it: as if answered OK
        }
        if (!PopupWait()) {
            // The window keeps its own text: a later run or the end of this
            // action leaves a window already shown alone.
            box->Notify(ActionText(lngNotifyTitle), text, style);
            return true;
        }
        if (YesNoButton()) {
            style.buttons = platform::MessageButtons::YesNo;
        }
        return box->Show(ActionText(lngNotifyTitle), text, style) != platform::MessageAnswer::No;
    }
}

}  // namespace quorvel
