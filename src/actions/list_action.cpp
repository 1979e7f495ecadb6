#include "actions/list_action.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "core/text_util.h"
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

namespace {

// The records with every carriage return and line feed of a name written as
// "?" (as "ls -q" shows them), so that a name never adds a line of its own
// to the list; nothing when no name holds one.
std::optional<FileList> WithoutLineBreaksInNames(const FileList& files) {
    const auto broken = [](const FileData& f) { return f.name && HasLineBreak(*f.name); };
    if (std::none_of(files.begin(), files.end(), broken)) {
        return std::nullopt;
    }
    FileList safe = files;
    for (FileData& f : safe) {
        if (broken(f)) {
            std::replace_if(
                f.name->begin(), f.name->end(), [](char c) { return c == '\r' || c == '\n'; },
                '?');
        }
    }
    return safe;
}

}  // namespace

bool ListAction::Execute(const FileList& allFiles, DateTime runStart, RunControl& control) {
    const std::string name = ExpandList(allFiles, runStart, m_listName->Value(), 0, 0).text;
    {
        std::lock_guard lock(m_nameMutex);
        m_expandedName = name;
    }
    if (name.empty()) {
        return true;
    }
    // Only a regular file is written; anything else (a FIFO, a device, a
    // path through another user's link) is skipped like a list file that
    // cannot be opened, and the chain goes on.
    std::string error;
    auto out = platform::OutputFile::Open(name, m_listAppend->Value(), &error);
    if (!out) {
        LogError(control, error);
        return true;
    }
    const std::optional<FileList> safeNames = WithoutLineBreaksInNames(allFiles);
    const FileList& files = safeNames ? *safeNames : allFiles;
    bool written = true;
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
            written = out->Write(buffer) && written;
            buffer.clear();
        }
        consumed += static_cast<std::size_t>(part.used > 0 ? part.used : 1);
    } while (consumed < total);
    written = out->Write(buffer) && written;
    if (!written) {
        LogError(control, "Cannot write the list file \"" + name + "\"");
    }
    return true;  // the chain goes on
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
