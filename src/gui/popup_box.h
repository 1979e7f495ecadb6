#pragma once

#include "platform/message_box.h"

namespace quorvel::gui {

/// The popup action's message window in the desktop program: a real window
/// on the user-interface thread (title, message, OK or Yes/No, always on
/// top when asked). The calling worker waits for the answer; windows of
/// several items can be open at once. Once the program closes its windows,
/// every waiting worker is answered OK.
class PopupBox : public platform::MessageBox {
public:
    platform::MessageAnswer Show(const std::string& title, const std::string& text,
                                 const platform::MessageStyle& style) override;
    void Notify(const std::string& title, const std::string& text,
                const platform::MessageStyle& style) override;
};

}  // namespace quorvel::gui
