#include <mutex>

#include "platform/console.h"
#include "platform/file_operation.h"

namespace quorvel::platform {

namespace {

std::mutex g_uiMutex;
std::shared_ptr<FileOpUi> g_ui;

}  // namespace

bool ConsoleFileOpUi::ConfirmOverwrite(const FileOperation&, const std::string&,
                                       const std::string&) {
    return false;  // nobody can be asked: keep what is there
}

void ConsoleFileOpUi::Progress(const FileOperation&, const std::string&) {}

void ConsoleFileOpUi::Error(const FileOperation&, const std::string& message) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    // Through the console's own output where there is one, so that names in
    // any script print as they are.
    WriteWhole(kStandardErrorFd, message + "\n");
}

std::vector<bool> TemplateWildcards(const FileOperation& operation, std::size_t index) {
    const std::string& source = operation.sources.at(index);
    const std::vector<bool>* fromMacro =
        index < operation.sourceFromMacro.size() ? &operation.sourceFromMacro[index] : nullptr;
    std::vector<bool> wildcards(source.size(), false);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const bool macro = fromMacro != nullptr && i < fromMacro->size() && (*fromMacro)[i];
        wildcards[i] = !macro && (source[i] == '*' || source[i] == '?' || source[i] == '[');
    }
    return wildcards;
}

std::shared_ptr<FileOpUi> CurrentFileOpUi() {
    std::lock_guard lock(g_uiMutex);
    if (!g_ui) {
        g_ui = std::make_shared<ConsoleFileOpUi>();
    }
    return g_ui;
}

void SetFileOpUi(std::shared_ptr<FileOpUi> ui) {
    std::lock_guard lock(g_uiMutex);
    g_ui = std::move(ui);
}

}  // namespace quorvel::platform
