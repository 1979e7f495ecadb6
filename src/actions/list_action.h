#pragma once

#include <mutex>
#include <string>

#include "actions/action.h"

namespace quorvel {

/// Writes the item's files into a text file, one expanded template per file
/// or one expansion over all files; the file can be deleted after the chain.
class ListAction : public Action {
public:
    ListAction();

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    /// The list file name the last run produced (empty before any run).
    std::string ExpandedListName() const;
    /// True when the list file goes after the chain ("ListDelete").
    bool DeleteAfterRun() const { return m_listDelete->Value(); }
    /// Deletes the list file of the last run; failures are ignored, and a
    /// directory of that name is left alone.
    void DeleteListFile();

    std::string ListName() const { return m_listName->Value(); }
    std::string ListParams() const { return m_listParams->Value(); }
    bool Append() const { return m_listAppend->Value(); }
    bool UseCycle() const { return m_useCycle->Value(); }

private:
    // Two runs of one item may overlap ("Do Action Now"), so the name the
    // clean-up reads is guarded.
    mutable std::mutex m_nameMutex;
    std::string m_expandedName;
    StringParam* m_listName;
    StringParam* m_listParams;
    BoolParam* m_listAppend;
    BoolParam* m_listDelete;
    BoolParam* m_useCycle;
};

}  // namespace quorvel
