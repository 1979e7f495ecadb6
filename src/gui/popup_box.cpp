#include "gui/popup_box.h"

#include <atomic>
#include <memory>

#include "gui/message_boxes.h"
#include "gui/thread_bridge.h"

namespace quorvel::gui {

platform::MessageAnswer PopupBox::Show(const std::string& title, const std::string& text,
                                       const platform::MessageStyle& style) {
    const bool question = style.buttons == platform::MessageButtons::YesNo;
    const QMessageBox::StandardButtons buttons =
        question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    auto answer = std::make_shared<std::atomic<int>>(QMessageBox::Ok);
    const QString qTitle = QString::fromStdString(title);
    const QString qText = QString::fromStdString(text);
    const bool onTop = style.alwaysOnTop;
    const bool shown = ThreadBridge::Instance().Await([=](ThreadBridge::Completion done) {
        MessageBoxes::ShowModeless(qTitle, qText, buttons, onTop,
                                   [answer, done](QMessageBox::StandardButton b) {
                                       answer->store(b);
                                       done.Done();
                                   });
    });
    if (!shown) {
        return platform::MessageAnswer::Ok;  // the program is closing
    }
    switch (answer->load()) {
        case QMessageBox::Yes:
            return platform::MessageAnswer::Yes;
        case QMessageBox::No:
            return platform::MessageAnswer::No;
        default:
            return platform::MessageAnswer::Ok;
    }
}

void PopupBox::Notify(const std::string& title, const std::string& text,
                      const platform::MessageStyle& style) {
    const QString qTitle = QString::fromStdString(title);
    const QString qText = QString::fromStdString(text);
    const bool onTop = style.alwaysOnTop;
    // The window opens on the user-interface thread; nobody waits for it.
    ThreadBridge::Instance().Post([=] {
        MessageBoxes::ShowModeless(qTitle, qText, QMessageBox::Ok, onTop,
                                   [](QMessageBox::StandardButton) {});
    });
}

}  // namespace quorvel::gui
