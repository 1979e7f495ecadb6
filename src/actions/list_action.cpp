#include "actions/list_action.h"

#include <filesystem>
#include <fstream>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
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
    std::ofstream out(std::filesystem::path(name),
                      std::ios::binary | (m_listAppend->Value() ? std::ios::app : std::ios::trunc));
    if (!out) {
        return true;  // an unusable list file is skipped; the chain goes on
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
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
        consumed += static_cast<std::size_t>(part.used > 0 ? part.used : 1);
    } while (consumed < total);
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return true;  // write errors are ignored
}

void ListAction::DeleteListFile() {
    const std::string name = ExpandedListName();
    if (name.empty()) {
        return;
    }
    std::error_code ec;
    const std::filesystem::path path(name);
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) {
        return;
    }
    std::filesystem::remove(path, ec);
}

}  // namespace quorvel
