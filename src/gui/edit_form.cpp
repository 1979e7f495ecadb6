#include "gui/edit_form.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "ui_edit_form.h"

namespace quorvel::gui {

namespace {

constexpr Qt::WindowFlags kFlags = Qt::Popup | Qt::FramelessWindowHint;

QPointer<EditForm>& TheForm() {
    static QPointer<EditForm> form;
    return form;
}

// Opens the pop-up when its field is double-clicked.
class DoubleClickOpener : public QObject {
public:
    explicit DoubleClickOpener(QLineEdit* field) : QObject(field), m_field(field) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_field && event->type() == QEvent::MouseButtonDblClick &&
            m_field->isEnabled()) {
            EditForm::OpenFor(m_field);
            return true;
        }
        return false;
    }

private:
    QLineEdit* m_field;
};

}  // namespace

EditForm::EditForm(QWidget* parent)
    : QWidget(parent, kFlags), m_ui(std::make_unique<Ui::EditForm>()) {
    m_ui->setupUi(this);
    setWindowFlags(kFlags);
    setFixedSize(346, 157);
    // "Courier New" where it is installed, another fixed-pitch font elsewhere.
    QFont font = m_ui->editMemo->font();
    font.setStyleHint(QFont::TypeWriter);
    m_ui->editMemo->setFont(font);
    m_ui->editMemo->installEventFilter(this);
}

EditForm::~EditForm() = default;

EditForm* EditForm::Existing() {
    return TheForm();
}

QPlainTextEdit* EditForm::Memo() const {
    return m_ui->editMemo;
}

void EditForm::OpenFor(QLineEdit* field) {
    if (field == nullptr) {
        return;
    }
    QPointer<EditForm>& form = TheForm();
    if (!form) {
        form = new EditForm(field->window());
    } else if (form->parentWidget() != field->window()) {
        // The pop-up belongs to the window of the field it serves, so a
        // modal dialog never blocks it.
        form->hide();
        form->setParent(field->window(), kFlags);
    }
    form->Open(field);
}

void EditForm::OpenOnDoubleClick(QLineEdit* field) {
    field->installEventFilter(new DoubleClickOpener(field));
}

void EditForm::Open(QLineEdit* field) {
    if (isVisible()) {
        hide();  // gives the text back to the field it came from
    }
    m_field = field;
    QString text = field->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_ui->editMemo->setPlainText(text);
    m_ui->editMemo->selectAll();
    move(field->mapToGlobal(QPoint(-2, field->height())));
    show();
    m_ui->editMemo->setFocus(Qt::PopupFocusReason);
}

bool EditForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->editMemo && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void EditForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    QPointer<QLineEdit> field = m_field;
    m_field = nullptr;
    if (!field) {
        return;
    }
    // Lines are joined the way the field's owner stores them.
    QString text = m_ui->editMemo->toPlainText();
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    if (text != field->text()) {
        field->selectAll();
        field->insert(text);  // one step of the field's undo
    }
    field->setFocus(Qt::OtherFocusReason);
}

}  // namespace quorvel::gui
