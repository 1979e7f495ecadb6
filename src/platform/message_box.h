#pragma once

#include <memory>
#include <string>

namespace quorvel::platform {

/// The buttons of a message window.
enum class MessageButtons { Ok, YesNo };

/// What the user answered. Failed: the window could not be shown.
enum class MessageAnswer { Ok, Yes, No, Failed };

/// How a message window presents itself.
struct MessageStyle {
    MessageButtons buttons = MessageButtons::Ok;
    bool alwaysOnTop = false;          ///< stays above every other window
    bool serviceNotification = false;  ///< visible on the interactive desktop from a service
};

/// Shows a titled message to the user. Each program plugs in its own
/// implementation (a dialog in the desktop program, the console otherwise).
/// Implementations are called from any thread, also from several at once.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    /// Shows the message and returns once the user has answered it (an
    /// implementation that cannot ask answers Ok or Yes at once).
    virtual MessageAnswer Show(const std::string& title, const std::string& text,
                               const MessageStyle& style) = 0;
    /// Shows a message with an OK button and returns at once, without
    /// waiting for anyone to read it; the window keeps its own copy of the
    /// text.
    virtual void Notify(const std::string& title, const std::string& text,
                        const MessageStyle& style) = 0;
};

/// The message box that actions use, as the program set it; none when it set
/// none (a message is then shown nowhere and answers Ok). Safe to call from
/// any thread.
std::shared_ptr<MessageBox> CurrentMessageBox();

/// Replaces the process-wide message box (nullptr: none).
void SetMessageBox(std::shared_ptr<MessageBox> box);

}  // namespace quorvel::platform
