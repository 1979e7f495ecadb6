#include "actions/file_op_action.h"

#include <algorithm>
#include <memory>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "platform/file_operation.h"
#include "settings/adv_string_list.h"

namespace quorvel {

namespace {

// Platform operation for each "OpIndex": copy, move, rename, delete.
constexpr platform::FileOpKind kPlatformKinds[] = {
    platform::FileOpKind::Copy, platform::FileOpKind::Move, platform::FileOpKind::Rename,
    platform::FileOpKind::Delete};

}  // namespace

FileOpAction::FileOpAction() : Action(ActionKind::FileOp, ActionKindCaption(ActionKind::FileOp)) {
    m_opIndex = &m_params.Add<IntParam>("OpIndex", 0, 0, 3);
    m_source = &m_params.Add<StringParam>("OpSource", "");
    m_destination = &m_params.Add<StringParam>("OpDestination", "");
    m_allowUndo = &m_params.Add<BoolParam>("AllowUndo", false);
    m_showProgress = &m_params.Add<BoolParam>("ShowProgress", true);
    m_yesToAll = &m_params.Add<BoolParam>("YesToAll", true);
    m_filesOnly = &m_params.Add<BoolParam>("OpFilesOnly", false);
    m_singleArg = &m_params.Add<BoolParam>("OpSingleArg", false);
}

std::string FileOpAction::OperationLabel(int opIndex) {
    // String table entries 13 to 16: copy, move, rename, delete.
    if (opIndex < 0 || opIndex > 3) {
        return {};
    }
    return ActionText(lngCopy + opIndex);
}

std::string FileOpAction::Describe() const {
    const int op = m_opIndex->Value();
    return OperationLabel(op) + m_source->Value() + " " +
           (op == Delete ? std::string() : m_destination->Value());
}

bool FileOpAction::Execute(const FileList& files, DateTime runStart, RunControl& control) {
    {
        const int total = static_cast<int>(files.size());
        const int op = OpIndex();
        int consumed = 0;
        do {
            const int count = SingleArg() ? 1 : 0;  // 0: every remaining file
            // A ";" in a file's name is part of that name, not a separator.
            ExpandListResult source = ExpandList(files, runStart, Source(), consumed, count, true);
            ExpandListResult destination =
                ExpandList(files, runStart, Destination(), consumed, count, true);
            consumed += std::max(source.used, 1);
            if (source.text.empty() || (op != Delete && destination.text.empty())) {
                continue;  // nothing to do in this pass
            }
            platform::FileOperation operation;
            operation.kind = kPlatformKinds[op];
            operation.sources =
                SplitPathList(source.text, &source.fromMacro, &operation.sourceFromMacro);
            if (op != Delete) {
                operation.destinations = SplitPathList(destination.text, &destination.fromMacro);
            }
            operation.filesOnly = FilesOnly();
            operation.allowUndo = AllowUndo();
            operation.confirmOverwrite = ShowProgress() && !YesToAll();
            operation.showProgress = ShowProgress();
            operation.reportErrors = ShowProgress() || SingleArg();
            if (operation.sources.empty()) {
                continue;
            }
            std::shared_ptr<platform::FileOpUi> ui = platform::CurrentFileOpUi();
            // Shown to the user or not as the settings say; logged always.
            std::vector<std::string> errors;
            platform::RunFileOperation(operation, *ui, &errors);
            for (std::string& error : errors) {
                LogError(control, std::move(error));
            }
        } while (consumed < total);
    }
    return true;  // a failed operation never stops the chain
}

std::vector<std::string> SplitPathList(const std::string& text,
                                       const std::vector<bool>* fromMacro,
                                       std::vector<std::vector<bool>>* pieceMarks) {
    auto separator = [&](std::size_t at) {
        return text[at] == ';' &&
               (fromMacro == nullptr || at >= fromMacro->size() || !(*fromMacro)[at]);
    };
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !separator(end)) {
            ++end;
        }
        if (end == start) {
            break;  // an empty entry ends the list, as a double terminator would
        }
        paths.push_back(text.substr(start, end - start));
        if (pieceMarks != nullptr) {
            std::vector<bool> marks(end - start, false);
            for (std::size_t i = start; fromMacro != nullptr && i < end && i < fromMacro->size();
                 ++i) {
                marks[i - start] = (*fromMacro)[i];
            }
            pieceMarks->push_back(std::move(marks));
        }
        start = end + 1;
    }
    return paths;
}

}  // namespace quorvel
