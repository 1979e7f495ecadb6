#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cwctype>

#include "platform/file_operation.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/trash.h"
#include "platform/win32/shell_file_op.h"

// The shell does the copying, moving, renaming and deleting, with its own
// semantics (folders with everything in them, merging into existing
// folders, the Recycle Bin for undo). The questions and the reports go
// through the program's FileOpUi, so the shell is told to show nothing.

namespace quorvel::platform {

namespace {

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(win32::SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(win32::SystemPath(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Leaf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::wstring Folded(const std::string& path) {
    std::wstring w = win32::Widen(win32::FullPath(path));
    while (w.size() > 3 && (w.back() == L'\\' || w.back() == L'/')) {
        w.pop_back();
    }
    std::transform(w.begin(), w.end(), w.begin(), [](wchar_t c) { return std::towlower(c); });
    return w;
}

class Runner {
public:
    Runner(const FileOperation& op, FileOpUi& ui, std::vector<std::string>* errors)
        : m_op(op), m_ui(ui), m_errors(errors) {}

    bool Run() {
        switch (m_op.kind) {
            case FileOpKind::Delete:
                Delete();
                break;
            case FileOpKind::Rename:
                Rename();
                break;
            case FileOpKind::Copy:
            case FileOpKind::Move:
                CopyOrMove();
                break;
        }
        return m_ok;
    }

private:
    void Fail(const std::string& message) {
        m_ok = false;
        if (m_errors != nullptr) {
            m_errors->push_back(message);
        }
        if (m_op.reportErrors) {
            m_ui.Error(m_op, message);
        }
    }

    void Progress(const std::string& source) {
        if (m_op.showProgress) {
            m_ui.Progress(m_op, source);
        }
    }

    // The entries a source stands for; wildcard tells whether it was one.
    // Only the template's own "*" and "?" are wildcards; a name that a
    // macro produced holding one names no file Windows can have.
    std::vector<std::string> Expand(std::size_t index, bool& wildcard) {
        wildcard = false;
        const std::string& source = m_op.sources[index];
        const std::string full = win32::FullPath(source);
        if (Exists(full)) {
            return {full};
        }
        const std::vector<bool> wildcards = TemplateWildcards(m_op, index);
        const auto slash = source.find_last_of("\\/");
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        bool templateWildcard = false, macroWildcard = false;
        for (std::size_t i = begin; i < source.size(); ++i) {
            if (source[i] == '*' || source[i] == '?') {
                (wildcards[i] ? templateWildcard : macroWildcard) = true;
            }
        }
        if (!templateWildcard || macroWildcard) {
            Fail("Cannot find \"" + source + "\": " + win32::ErrorText(ERROR_FILE_NOT_FOUND));
            return {};
        }
        wildcard = true;
        std::vector<std::string> entries;
        WIN32_FIND_DATAW data{};
        win32::UniqueFind find(::FindFirstFileExW(win32::SystemPath(full).c_str(), FindExInfoBasic,
                                                  &data, FindExSearchNameMatch, nullptr, 0));
        if (!find.Valid()) {
            return entries;
        }
        const std::string directory = Parent(full);
        do {
            const std::wstring_view name(data.cFileName);
            if (name == L"." || name == L"..") {
                continue;
            }
            if (m_op.filesOnly && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                continue;
            }
            entries.push_back(directory + win32::Narrow(name));
        } while (::FindNextFileW(find.Get(), &data));
        return entries;
    }

    // The root of a drive, the home folder and the folders above it stay.
    bool Protected(const std::string& path) {
        const std::wstring p = Folded(path);
        if (p.size() <= 3) {
            return true;
        }
        const std::wstring home = Folded(HomeDirectory());
        return home == p || (home.size() > p.size() && home.compare(0, p.size(), p) == 0 &&
                             home[p.size()] == L'\\');
    }

    void Delete() {
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            bool wildcard = false;
            for (const auto& entry : Expand(i, wildcard)) {
                if (Protected(entry)) {
                    Fail("Refusing to delete \"" + entry + "\"");
                    continue;
                }
                Progress(entry);
                std::string error;
                if (m_op.allowUndo) {
                    if (!MoveToTrash(entry, &error)) {
                        Fail("Cannot move \"" + entry + "\" to the Recycle Bin: " + error);
                    }
                } else if (!win32::ShellFileOperation(FO_DELETE, {entry}, {}, 0, &error)) {
                    Fail("Cannot delete \"" + entry + "\": " + error);
                }
            }
        }
    }

    // True when the destination may be written: it is free, or the user
    // allowed replacing it, or nobody needs asking.
    bool MayReplace(const std::string& source, const std::string& target) {
        if (!m_op.confirmOverwrite || !Exists(target)) {
            return true;
        }
        return m_ui.ConfirmOverwrite(m_op, source, target);
    }

    void CopyOrMove() {
        if (m_op.destinations.empty() || m_op.destinations[0].empty()) {
            Fail("No destination given");
            return;
        }
        const std::string& given = m_op.destinations[0];
        std::string destination = win32::FullPath(given);
        std::vector<std::string> entries;
        bool anyWildcard = false;
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            bool wildcard = false;
            for (auto& e : Expand(i, wildcard)) {
                entries.push_back(std::move(e));
            }
            anyWildcard = anyWildcard || wildcard;
        }
        const bool intoDirectory = IsDirectory(destination) || EndsWithSeparator(given) ||
                                   m_op.sources.size() > 1 || anyWildcard;
        if (intoDirectory && !IsDirectory(destination) && !CreateDirectories(destination)) {
            Fail("Cannot create the folder \"" + destination +
                 "\": " + win32::ErrorText(::GetLastError()));
            return;
        }
        const bool move = m_op.kind == FileOpKind::Move;
        for (const auto& entry : entries) {
            std::string target = destination;
            if (intoDirectory) {
                if (!EndsWithSeparator(target)) {
                    target += '\\';
                }
                target += Leaf(entry);
            }
            if (Folded(entry) == Folded(target)) {
                if (!move) {
                    Fail("Cannot copy \"" + entry + "\" onto itself");
                }
                continue;  // a move onto itself does nothing
            }
            if (!MayReplace(entry, target)) {
                continue;
            }
            Progress(entry);
            std::string error;
            // Into a folder the shell is given the folder, so a folder that
            // exists there already is merged rather than nested.
            if (!win32::ShellFileOperation(move ? FO_MOVE : FO_COPY, {entry},
                                           intoDirectory ? destination : target, 0, &error)) {
                Fail(std::string(move ? "Cannot move \"" : "Cannot copy \"") + entry + "\" to \"" +
                     target + "\": " + error);
            }
        }
    }

    void Rename() {
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            const std::string& source = m_op.sources[i];
            if (i >= m_op.destinations.size() || m_op.destinations[i].empty()) {
                Fail("No new name given for \"" + source + "\"");
                continue;
            }
            const std::string from = win32::FullPath(source);
            if (!Exists(from)) {
                Fail("Cannot find \"" + source + "\": " + win32::ErrorText(ERROR_FILE_NOT_FOUND));
                continue;
            }
            const std::string& name = m_op.destinations[i];
            const std::string to = name.find_first_of("\\/:") == std::string::npos
                                       ? Parent(from) + name
                                       : win32::FullPath(name);
            if (!MayReplace(from, to)) {
                continue;
            }
            Progress(from);
            std::string error;
            if (!win32::ShellFileOperation(FO_RENAME, {from}, to, 0, &error)) {
                Fail("Cannot rename \"" + from + "\" to \"" + to + "\": " + error);
            }
        }
    }

    const FileOperation& m_op;
    FileOpUi& m_ui;
    std::vector<std::string>* m_errors;
    bool m_ok = true;
};

}  // namespace

bool RunFileOperation(const FileOperation& operation, FileOpUi& ui,
                      std::vector<std::string>* errors) {
    const bool ok = Runner(operation, ui, errors).Run();
    ui.Finished(operation);
    return ok;
}

}  // namespace quorvel::platform
