#include "gui/message_boxes.h"

#include <QPointer>
#include <QWidget>

#include <deque>
#include <mutex>

namespace quorvel::gui {

namespace {

struct Script {
    std::mutex mutex;
    bool answering = false;
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<MessageBoxes::Record> shown;
};

Script& TheScript() {
    static Script script;
    return script;
}

QMessageBox::StandardButton EscapeOf(QMessageBox::StandardButtons buttons) {
    for (auto b : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok}) {
        if (buttons.testFlag(b)) {
            return b;
        }
    }
    return QMessageBox::Ok;
}

// Records the box; answers a scripted answer when there is one.
std::optional<QMessageBox::StandardButton> Scripted(const QString& title, const QString& text,
                                                    QMessageBox::Icon icon,
                                                    QMessageBox::StandardButtons buttons) {
    Script& s = TheScript();
    std::lock_guard lock(s.mutex);
    s.shown.push_back({title, text, icon, buttons});
    if (!s.answers.empty()) {
        const auto answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    if (s.answering) {
        return EscapeOf(buttons);
    }
    return std::nullopt;
}

QMessageBox* MakeBox(QWidget* parent, const QString& title, const QString& text,
                     QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                     bool alwaysOnTop) {
    auto* box = new QMessageBox(icon, title, QString(), buttons, parent);
    // A message may hold a file's name: it is shown as the text it is, never
    // as markup that loads pictures or offers links.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setEscapeButton(EscapeOf(buttons));
    if (alwaysOnTop) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    return box;
}

}  // namespace

QMessageBox::StandardButton MessageBoxes::Show(QWidget* parent, const QString& title,
                                               const QString& text, QMessageBox::Icon icon,
                                               QMessageBox::StandardButtons buttons,
                                               bool alwaysOnTop) {
    if (auto answer = Scripted(title, text, icon, buttons)) {
        return *answer;
    }
    QPointer<QMessageBox> box = MakeBox(parent, title, text, icon, buttons, alwaysOnTop);
    const int result = box->exec();
    delete box.data();
    if (result == 0 || result == QDialog::Rejected) {
        return EscapeOf(buttons);
    }
    return static_cast<QMessageBox::StandardButton>(result);
}

void MessageBoxes::ShowModeless(const QString& title, const QString& text,
                                QMessageBox::StandardButtons buttons, bool alwaysOnTop,
                                std::function<void(QMessageBox::StandardButton)> done) {
    if (auto answer = Scripted(title, text, QMessageBox::Information, buttons)) {
        done(*answer);
        return;
    }
    QMessageBox* box =
        MakeBox(nullptr, title, text, QMessageBox::Information, buttons, alwaysOnTop);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done](int result) {
        QAbstractButton* clicked = box->clickedButton();
        const auto answer = clicked != nullptr ? box->standardButton(clicked) : EscapeOf(buttons);
        done(answer == QMessageBox::NoButton ? EscapeOf(buttons) : answer);
        (void)result;
    });
    box->show();
    box->raise();
    box->activateWindow();
}

void MessageBoxes::AnswerNext(QMessageBox::StandardButton answer) {
    Script& s = TheScript();
    std::lock_guard lock(s.mutex);
    s.answers.push_back(answer);
}

void MessageBoxes::SetAnswering(bool on) {
    Script& s = TheScript();
    std::lock_guard lock(s.mutex);
    s.answering = on;
}

std::vector<MessageBoxes::Record> MessageBoxes::Shown() {
    Script& s = TheScript();
    std::lock_guard lock(s.mutex);
    return s.shown;
}

void MessageBoxes::ClearShown() {
    Script& s = TheScript();
    std::lock_guard lock(s.mutex);
    s.shown.clear();
    s.answers.clear();
}

}  // namespace quorvel::gui
