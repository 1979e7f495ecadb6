#include "gui/dialog_tools.h"

#include <algorithm>

#include <QAction>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>

#include "gui/file_dialogs.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"

namespace quorvel::gui {

namespace {

QString Separator() {
    return QString(QChar::fromLatin1(platform::kPathSeparator));
}

}  // namespace

void InsertAtCaret(QLineEdit* field, const QString& text) {
    if (field != nullptr) {
        field->insert(text);  // replaces the selection, if any
        field->setFocus(Qt::OtherFocusReason);
    }
}

FieldMenu::FieldMenu(QMenu* menu) : QObject(menu), m_menu(menu) {
    Connect(menu);
}

void FieldMenu::Connect(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (action->menu() != nullptr) {
            Connect(action->menu());
        } else if (!action->isSeparator()) {
            connect(action, &QAction::triggered, this, [this, action] {
                const QVariant insert = action->property(kInsertText);
                InsertAtCaret(m_target, insert.isValid() ? insert.toString() : action->text());
            });
        }
    }
}

QLineEdit* FieldMenu::Target() const {
    return m_target;
}

void FieldMenu::OpenFor(QWidget* control, QLineEdit* field) {
    m_target = field;
    m_menu->popup(control->mapToGlobal(QPoint(-1, control->height())));
}

namespace {

// The folder a field's text names, with its separator.
QString FolderOf(const QLineEdit* field) {
    const QString text = field->text();
    const int cut = text.lastIndexOf(Separator());
    return cut >= 0 ? text.left(cut + 1) : QString();
}

}  // namespace

bool BrowseForProgram(QWidget* parent, QLineEdit* field, const QString& programsCaption,
                      const QString& otherFilters) {
    const QString path =
        FileDialogs::OpenProgram(parent, QString::fromStdString(Strings().Text(lngSelectFile)),
                                 FolderOf(field), programsCaption, otherFilters);
    if (path.isEmpty()) {
        return false;
    }
    field->setText(path);
    return true;
}

bool BrowseForFile(QWidget* parent, QLineEdit* field, const QString& filter, bool several) {
    const QString directory = FolderOf(field);
    const QString title = QString::fromStdString(Strings().Text(lngSelectFile));
    if (!several) {
        const QString path = FileDialogs::OpenFile(parent, title, directory, filter);
        if (path.isEmpty()) {
            return false;
        }
        field->setText(path);
        return true;
    }
    const QStringList paths = FileDialogs::OpenFiles(parent, title, directory, filter);
    if (paths.isEmpty()) {
        return false;
    }
    QString joined = field->text();
    for (const QString& path : paths) {
        if (!joined.isEmpty()) {
            joined += ';';
        }
        joined += path;
    }
    field->setText(joined);
    return true;
}

bool BrowseForFolder(QWidget* parent, QLineEdit* field, bool append) {
    QString start = field->text();
    if (start.size() > 1 && start.endsWith(Separator())) {
        start.chop(1);
    }
    const QString title = QString::fromStdString(Strings().Text(lngSelectDir));
    const QString folder = FileDialogs::Folder(parent, title, start);
    if (folder.isEmpty()) {
        return false;
    }
    if (append && !field->text().isEmpty()) {
        field->setText(field->text() + ';' + folder);
    } else {
        field->setText(folder);
    }
    return true;
}

void EnableGroup(std::initializer_list<QWidget*> controls, bool on) {
    for (QWidget* control : controls) {
        if (control != nullptr) {
            control->setEnabled(on);
        }
    }
}

bool IsPlainF1(const QKeyEvent* event) {
    const auto modifiers = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                 Qt::AltModifier | Qt::MetaModifier);
    return event->key() == Qt::Key_F1 && modifiers == Qt::NoModifier;
}

namespace {

// Asks for the room its content asks for, as far as the screen has it once
// the rest of the window took its share; given less, it scrolls.
class FittingScrollArea : public QScrollArea {
public:
    FittingScrollArea(QWidget* parent, QSize others) : QScrollArea(parent), m_others(others) {}

    QSize sizeHint() const override { return Bounded(widget()->sizeHint()); }
    QSize minimumSizeHint() const override { return Bounded(widget()->minimumSizeHint()); }

private:
    QSize Bounded(QSize content) const {
        const int frame = 2 * frameWidth();
        content += QSize(frame, frame);
        const QScreen* screen = window()->screen();
        if (screen == nullptr) {
            return content;
        }
        // The desktop's frame around the window, before there is one to measure.
        const int border = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        const QSize decoration(border, border + style()->pixelMetric(QStyle::PM_TitleBarHeight));
        const QSize room = screen->availableGeometry().size() - decoration - m_others;
        if (content.height() > room.height()) {
            // Scrolling down, the scroll bar takes a width of its own.
            content.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        }
        const QSize floor(fontMetrics().averageCharWidth() * 20, fontMetrics().height() * 6);
        return content.boundedTo(room).expandedTo(floor);
    }

    QSize m_others;  // what the rest of the window needs beside and around it
};

}  // namespace

void ScrollWhenLarge(QWidget* content) {
    QWidget* parent = content->parentWidget();
    QLayout* layout = parent != nullptr ? parent->layout() : nullptr;
    QLayout* top = content->window()->layout();
    if (layout == nullptr || top == nullptr) {
        return;
    }
    const QSize others =
        (top->totalMinimumSize() - content->minimumSizeHint()).expandedTo(QSize(0, 0));
    auto* area = new FittingScrollArea(parent, others);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setObjectName(content->objectName() + QStringLiteral("Scroll"));
    delete layout->replaceWidget(content, area, Qt::FindChildrenRecursively);
    area->setWidget(content);
    // A window of a fixed size could not shrink to its screen.
    top->setSizeConstraint(QLayout::SetDefaultConstraint);
}

QString PlainToolTip(const QString& text) {
    if (text.isEmpty()) {
        return text;
    }
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString WithoutLineBreaks(QString text, QChar separator) {
    static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
    return text.replace(kBreak, QString(separator));
}

}  // namespace quorvel::gui
