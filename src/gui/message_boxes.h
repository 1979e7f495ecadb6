#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace quorvel::gui {

/// The one way the desktop program shows a message box, so that tests can
/// answer every box in advance and read what was asked.
class MessageBoxes {
public:
    /// One box as it was shown (or answered by a test).
    struct Record {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    /// Shows a modal box on the user-interface thread and answers the button
    /// chosen (Escape or closing answers the escape button: Cancel, No or OK).
    static QMessageBox::StandardButton Show(QWidget* parent, const QString& title,
                                            const QString& text, QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons,
                                            bool alwaysOnTop = false);

    /// Shows a box that does not hold the user-interface thread; done gets
    /// the answer once the user closed it. User-interface thread only.
    static void ShowModeless(const QString& title, const QString& text,
                             QMessageBox::StandardButtons buttons, bool alwaysOnTop,
                             std::function<void(QMessageBox::StandardButton)> done);

    // For tests: queued answers are taken one per box in the order given, and
    // no window appears for a box a queued answer takes. With answering
    // enabled, a box without a queued answer takes its escape button.
    static void AnswerNext(QMessageBox::StandardButton answer);
    static void SetAnswering(bool on);
    static std::vector<Record> Shown();
    static void ClearShown();
};

}  // namespace quorvel::gui
