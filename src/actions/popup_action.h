#pragma once

#include <mutex>
#include <string>

#include "actions/action.h"

namespace quorvel {

/// Shows a message window with an expanded text; a waiting Yes/No question
/// answered No stops the chain.
class PopupAction : public Action {
public:
    PopupAction();

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    std::string Message() const { return m_message->Value(); }
    bool PopupWait() const { return m_popupWait->Value(); }
    bool YesNoButton() const { return m_yesNoButton->Value(); }
    bool AlwaysOnTop() const { return m_alwaysOnTop->Value(); }
    bool ServiceNotification() const { return m_serviceNotification->Value(); }

    /// The message text of the last run.
    std::string ExpandedMessage() const;

private:
    mutable std::mutex m_messageMutex;
    std::string m_expandedMessage;
    StringParam* m_message;
    BoolParam* m_popupWait;
    BoolParam* m_yesNoButton;
    BoolParam* m_alwaysOnTop;
    BoolParam* m_serviceNotification;
};

}  // namespace quorvel
