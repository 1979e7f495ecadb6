#pragma once

#include <string>
#include <vector>

#include "actions/action.h"

namespace quorvel {

/// Copies, moves, renames or deletes files named by expanded, ";"-separated
/// path lists, once for all files or once per file.
class FileOpAction : public Action {
public:
    enum Operation : int { Copy = 0, Move = 1, Rename = 2, Delete = 3 };

    FileOpAction();

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    int OpIndex() const { return m_opIndex->Value(); }
    std::string Source() const { return m_source->Value(); }
    std::string Destination() const { return m_destination->Value(); }
    bool AllowUndo() const { return m_allowUndo->Value(); }
    bool ShowProgress() const { return m_showProgress->Value(); }
    bool YesToAll() const { return m_yesToAll->Value(); }
    bool FilesOnly() const { return m_filesOnly->Value(); }
    bool SingleArg() const { return m_singleArg->Value(); }

    /// The label of an operation in the language in force now ("Copy: ").
    static std::string OperationLabel(int opIndex);

private:
    IntParam* m_opIndex;
    StringParam* m_source;
    StringParam* m_destination;
    BoolParam* m_allowUndo;
    BoolParam* m_showProgress;
    BoolParam* m_yesToAll;
    BoolParam* m_filesOnly;
    BoolParam* m_singleArg;
};

/// Splits an expanded path list at ";". Two adjacent ";" (an empty entry)
/// end the list there; the entries after them are not used. fromMacro, when
/// given, marks the bytes a macro produced: a ";" among them belongs to a
/// name and never splits. pieceMarks, when given, receives those marks for
/// each entry.
std::vector<std::string> SplitPathList(const std::string& text,
                                       const std::vector<bool>* fromMacro = nullptr,
                                       std::vector<std::vector<bool>>* pieceMarks = nullptr);

}  // namespace quorvel
