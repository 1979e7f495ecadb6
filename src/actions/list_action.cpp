#include "actions/list_action.h"

#include <filesystem>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace quorvel {

ListAction::ListAction() : Action(ActionKind::List, ActionKindCaption(ActionKind::List)) {
    m_listName = &m_params.Add<StringParam>("ListName", "list.txt");
    m_listParams = &m_params.Add<StringParam>("ListParams", "%File");
    m_listAppend = &m_params.Add<BoolParam>("ListAppend", false);
    m_listDelete = &m_params.Add<BoolParam>("ListDelete", false);
    m_useCycle = &m_params.Add<BoolParam>("UseCycle", false);
}

std::string ListAction::Describe() const {
    return m_listName->Value() + ": " + m_listParams->Value();
}

std::string ListAction::ExpandedListName() const {
    std::lock_guard lock(m_nameMutex);
    return m_expandedName;
}

bool ListAction::Execute(const FileList& files, DateTime runStart, RunControl& /*control*/) {
    const std::string name = ExpandList(files, runStart, m_listName->Value(), 0, 0).text;
    {
        std::lock_guard lock(m_nameMutex);
        m_expandedName = name;
    }
    if (name.empty()) {
        return true;
    }
    // Only a regular file is written; anything else (a FIFO, a device) is
    // skipped like a list file that cannot be opened, and the chain goes on.
    auto out = platform::OutputFile::Open(name, m_listAppend->Value());
    if (!out) {
        return true;
    }
    const bool cycle = m_useCycle->Value();
    const std::string& templ = m_listParams->Value();
    const std::size_t total = files.size();
    std::string buffer;
    std::size_t consumed = 0;
    do {
        ExpandListResult part =
            ExpandList(files, runStart, templ, static_cast<int>(consumed), cycle ? 0 : 1);
        buffer += part.text;
        if (!cycle) {
            buffer += platform::kLineEnding;
        }
        if (buffer.size() >= 64 * 1024) {
            out->Write(buffer);
            buffer.clear();
        }
        consumed += static_cast<std::size_t>(part.used > 0 ? part.used : 1);
    } while (consumed < total);
    out->Write(buffer);
    return true;  // write errors are ignored
}

void ListAction::DeleteListFile() {
    const std::string name = ExpandedListName();
    if (name.empty()) {
        return;
    }
    std::error_code ec;
    const std::filesystem::path path(name);
    // Only what this action could have written goes: never a directory, a
    // FIFO or a device that happens to have the list's name.
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !(std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))) {
        return;
    }
    std::filesystem::remove(path, ec);
}

}  // namespace quorvel
