#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace quorvel::gui {

/// The file and folder choosers of the desktop program, in one place so
/// that tests can answer them in advance. An empty answer means the user
/// cancelled.
class FileDialogs {
public:
    /// Chooses an existing file.
    static QString OpenFile(QWidget* parent, const QString& title, const QString& directory,
                            const QString& filter);
    /// Chooses a program to run: the first choice lists the files that may
    /// be run (on Linux the executable ones, whatever their names; on
    /// Windows *.exe, *.bat, *.cmd, *.com), with the folders to reach them;
    /// others (a pipe filter) follow.
    static QString OpenProgram(QWidget* parent, const QString& title, const QString& directory,
                               const QString& programsCaption, const QString& otherFilters);
    /// The filter OpenProgram's choices form (for tests and Windows).
    static QString ProgramFilters(const QString& programsCaption, const QString& otherFilters);
    /// Chooses several existing files.
    static QStringList OpenFiles(QWidget* parent, const QString& title, const QString& directory,
                                 const QString& filter);
    /// Chooses a file to write, asking before an existing one is replaced;
    /// a name without extension gets defaultSuffix.
    static QString SaveFile(QWidget* parent, const QString& title, const QString& directory,
                            const QString& filter, const QString& defaultSuffix);
    /// Chooses a folder.
    static QString Folder(QWidget* parent, const QString& title, const QString& directory);

    /// Turns a filter of the form "Text (*.a)|*.a|All (*.*)|*.*" into the
    /// chooser's form.
    static QString QtFilter(const QString& pipeFilter);

    // For tests: queued answers are taken one per dialog (a list of paths for
    // OpenFiles, separated by "\n"); with answering on, a dialog without a
    // queued answer is cancelled without showing.
    static void AnswerNext(const QString& answer);
    static void SetAnswering(bool on);
    static int Asked();
};

}  // namespace quorvel::gui
