#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include "settings/ini_file.h"

class QWidget;

namespace quorvel {
class Lang;
}

namespace quorvel::gui {

class HelpViewer;

/// The program's help: the manual of the current language in the help
/// window, its topics by help context number, and "What's This?" for the
/// controls of every window.
///
/// The manual lies in the "Help" directory beside the program: the
/// language's help file name without its extension is a directory with
/// index.html (the contents) and contexts.ini ([Contexts] number =
/// page#anchor; [Viewer] the window's texts). The popup file of the
/// language ([Popups] number = text) holds the controls' texts, and
/// control_contexts.ini ([Controls] Window.control = number) gives each
/// control its number where the window's layout does not carry it as the
/// property "helpContext" already (set when the window is first shown). Pages and group boxes carry
/// numbers up to 2000 (topics), controls numbers above (popups).
class ProgramHelp : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kHelpContext = "helpContext";

    /// lang is read at every request, so a change of language applies at
    /// once; owner is the parent of the question about a missing manual.
    ProgramHelp(const Lang& lang, QWidget* owner);
    ~ProgramHelp() override;

    /// Another help directory (for tests); the default is the shipped one.
    void SetDirectory(const QString& directory);

    /// The contents of the manual ("Help Topics"); false when the manual is
    /// missing (the question about it was asked).
    bool ShowContents();
    /// The topic of a help context number; the contents for a number
    /// without topic. False when the manual is missing.
    bool ShowTopic(int context);

    /// The contents page; empty when the language's manual is missing.
    QUrl ContentsUrl() const;
    /// The page and anchor of a number; empty when it has none.
    QUrl TopicUrl(int context) const;
    /// The "What's This?" text of a number above 2000 (lngNoPop when the
    /// popup file has none); empty for numbers up to 2000.
    QString PopupText(int context) const;
    /// Sets "helpContext" on the controls of window that control_contexts.ini
    /// names and whose layout gives none.
    void ApplyContexts(QWidget* window) const;
    /// The help window, once a page was shown.
    HelpViewer* Viewer() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString ManualDirectory() const;
    bool Present(const QUrl& page);
    void AskForViewer();
    /// The nearest context number of w or its parents within its window.
    static int ContextOf(const QWidget* w);
    void ShowPopup(QWidget* w, int context);
    void FollowModal();
    /// Makes the help window a window of parent (none: of its own), where it was.
    void MoveViewerTo(QWidget* parent);

    const Lang& m_lang;
    QPointer<QWidget> m_owner;
    QString m_directory;
    IniFile m_controls;
    QPointer<HelpViewer> m_viewer;
    QPointer<QWidget> m_modalParent;
};

}  // namespace quorvel::gui
