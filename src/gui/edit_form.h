#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <memory>

class QPlainTextEdit;

namespace Ui {
class EditForm;
}

namespace quorvel::gui {

/// The edit pop-up: a larger editor that drops down under a single-line
/// field of a dialog. Enter, Esc or a click elsewhere closes it, and every
/// close puts its text back into the field (Esc keeps the changes too).
/// One window serves every field; it is created on first use.
class EditForm : public QWidget {
    Q_OBJECT

public:
    ~EditForm() override;

    /// Opens the pop-up under field with the field's text, all selected.
    static void OpenFor(QLineEdit* field);
    /// Lets a double click on field open the pop-up as well.
    static void OpenOnDoubleClick(QLineEdit* field);
    /// The pop-up once it has been created, else none (for tests).
    static EditForm* Existing();

    QPlainTextEdit* Memo() const;
    QLineEdit* Field() const { return m_field; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    explicit EditForm(QWidget* parent);
    void Open(QLineEdit* field);

    std::unique_ptr<Ui::EditForm> m_ui;
    QPointer<QLineEdit> m_field;
};

}  // namespace quorvel::gui
