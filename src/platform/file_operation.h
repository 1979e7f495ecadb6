#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quorvel::platform {

/// What a file operation does.
enum class FileOpKind { Copy, Move, Rename, Delete };

/// One copy, move, rename or delete over a list of paths.
///
/// A source that exists as written is that entry. Any other source may end
/// in a wildcard component ("*", "?", "[...]"), which stands for the
/// matching entries of that directory, hidden ones included. Only the
/// template's own wildcard characters are wildcards: a character that a
/// macro produced (sourceFromMacro) is literal whatever it is, so a source
/// made of a file's name alone names that file or nothing.
/// Directories are copied, moved and deleted with everything in them.
/// Copy and move put every source into the destination when it is an
/// existing directory, when it ends with a separator, or when there is more
/// than one source or a wildcard (the directory is then created); a single
/// source otherwise gets the destination's name. Rename pairs the n-th
/// source with the n-th destination; a destination without a directory part
/// stays in the source's directory.
struct FileOperation {
    FileOpKind kind = FileOpKind::Copy;
    std::vector<std::string> sources;
    std::vector<std::string> destinations;  ///< copy and move use the first only
    /// Per source, per byte: true where a macro produced the character. A
    /// missing entry, or bytes beyond its end, are the template's own text.
    std::vector<std::vector<bool>> sourceFromMacro;
    bool filesOnly = false;                 ///< wildcards match files only, never directories
    bool allowUndo = false;                 ///< deleted entries go to the trash, never lost
    bool confirmOverwrite = false;          ///< ask before replacing an existing destination
    bool showProgress = true;               ///< the user wants to see progress
    bool reportErrors = true;               ///< errors may be shown to the user
};

/// How a file operation talks to the user. The desktop program shows
/// dialogs; the console one asks nothing.
class FileOpUi {
public:
    virtual ~FileOpUi() = default;
    /// Asked before an existing destination is replaced when the operation
    /// wants confirmations; false keeps the destination and skips the source.
    virtual bool ConfirmOverwrite(const FileOperation& operation, const std::string& source,
                                  const std::string& destination) = 0;
    /// Called before each top-level source is processed, when the operation
    /// shows progress.
    virtual void Progress(const FileOperation& operation, const std::string& source) = 0;
    /// One failure, as a sentence; called when the operation reports errors.
    virtual void Error(const FileOperation& operation, const std::string& message) = 0;
    /// The operation has ended (after its last Progress, Error or question).
    virtual void Finished(const FileOperation& /*operation*/) {}
};

/// The console's answers: never replace where a confirmation would be asked,
/// and print every error the operation reports to standard error.
class ConsoleFileOpUi : public FileOpUi {
public:
    bool ConfirmOverwrite(const FileOperation& operation, const std::string& source,
                          const std::string& destination) override;
    void Progress(const FileOperation& operation, const std::string& source) override;
    void Error(const FileOperation& operation, const std::string& message) override;
};

/// Runs the operation; true when every part succeeded (a destination kept
/// because a confirmation was declined is no failure). Never loses data: a
/// copy that fails leaves the old destination file as it was (files are
/// written under a temporary name and renamed into place), a move removes a
/// source only after all of it arrived, a move onto itself does nothing, and
/// the root directory or the home directory itself is never deleted. A
/// delete with allowUndo that cannot reach any trash deletes nothing.
/// errors, when given, receives every failure as a sentence, whether the
/// operation reports errors to the user or not.
bool RunFileOperation(const FileOperation& operation, FileOpUi& ui,
                      std::vector<std::string>* errors = nullptr);

/// Per byte of the source at index: true where it is a wildcard character
/// ("*", "?", "[") of the template, false for every other byte and for every
/// byte a macro produced.
std::vector<bool> TemplateWildcards(const FileOperation& operation, std::size_t index);

/// The user interface that file operations use; the console one unless a
/// program set another.
std::shared_ptr<FileOpUi> CurrentFileOpUi();

/// Replaces the process-wide file operation user interface (nullptr
/// restores the console one).
void SetFileOpUi(std::shared_ptr<FileOpUi> ui);

}  // namespace quorvel::platform
