#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QString>

#include <initializer_list>

class QAction;
class QKeyEvent;

class QMenu;
class QWidget;

namespace quorvel::gui {

/// The dynamic property that carries a widget's help context number: a
/// dialog page or group (the topic its Help button opens) or a control
/// (its context help, numbers above 2000).
inline constexpr const char* kHelpContext = "helpContext";

/// The dynamic property of a menu entry that names the text it inserts
/// (entries without it insert their own caption).
inline constexpr const char* kInsertText = "insertText";

/// Puts text at the caret of field, replacing its selection.
void InsertAtCaret(QLineEdit* field, const QString& text);

/// A menu whose entries insert a text into the field it was last opened
/// for: the macro and variables menus beside the dialogs' fields.
class FieldMenu : public QObject {
    Q_OBJECT

public:
    /// Every entry of menu and of its submenus inserts its kInsertText (or
    /// its caption).
    explicit FieldMenu(QMenu* menu);

    /// Opens the menu under control (at its bottom-left corner, one pixel to
    /// the left) for field; returns at once.
    void OpenFor(QWidget* control, QLineEdit* field);
    QLineEdit* Target() const;
    QMenu* Menu() const { return m_menu; }

private:
    void Connect(QMenu* menu);

    QMenu* m_menu;
    QPointer<QLineEdit> m_target;
};

/// Lets the user choose a file for field: the chooser is titled
/// lngSelectFile and starts in the directory part of the field's text. With
/// several, each chosen path is appended, after a ";" whenever the field is
/// not empty; otherwise the path replaces the text. True when chosen.
bool BrowseForFile(QWidget* parent, QLineEdit* field, const QString& filter, bool several);

/// The same for a program to run (FileDialogs::OpenProgram): the first
/// choice lists what may be run, then otherFilters.
bool BrowseForProgram(QWidget* parent, QLineEdit* field, const QString& programsCaption,
                      const QString& otherFilters);

/// Lets the user choose a folder for field, starting at the folder its text
/// names (one trailing separator removed). In append mode the folder is
/// appended after a ";" whenever the field is not empty; otherwise it
/// replaces the text. True when chosen.
bool BrowseForFolder(QWidget* parent, QLineEdit* field, bool append);

/// Sets each control's enabled state to on.
void EnableGroup(std::initializer_list<QWidget*> controls, bool on);

/// True for F1 pressed without Shift, Ctrl or Alt.
bool IsPlainF1(const QKeyEvent* event);

/// Line breaks (CR LF, CR or LF) each turned into the separator: a value of
/// a configuration line can hold none, and a pasted one must not end it.
QString WithoutLineBreaks(QString text, QChar separator);

/// Puts content into a scroll area in its place, which asks for the room the
/// content asks for as far as the screen has it: a window larger than its
/// screen (large fonts, a high scale factor) then scrolls there instead of
/// losing its buttons past the screen's edge. Call it once the content holds
/// its texts. A window that kept a fixed size may now be resized.
void ScrollWhenLarge(QWidget* content);

/// A tooltip that shows text as it is: Qt takes a tooltip that looks like
/// markup for markup, and a file's name may look like anything.
QString PlainToolTip(const QString& text);

}  // namespace quorvel::gui
