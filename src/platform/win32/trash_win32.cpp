#include <windows.h>

#include <shellapi.h>

#include "platform/trash.h"
#include "platform/win32/shell_file_op.h"

namespace quorvel::platform {

namespace win32 {

std::string FullPath(const std::string& path) {
    const std::wstring wide = SystemPath(path);
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    full.resize(n);
    return Narrow(full);
}

namespace {

// The double-null-terminated list the shell takes. The shell knows no
// "\\?\" paths, so names are passed as they are.
std::wstring PathList(const std::vector<std::string>& paths) {
    std::wstring list;
    for (const auto& p : paths) {
        std::wstring w = Widen(p);
        for (auto& c : w) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        list += w;
        list += L'\0';
    }
    list += L'\0';
    return list;
}

}  // namespace

bool ShellFileOperation(unsigned function, const std::vector<std::string>& from,
                        const std::string& to, unsigned extraFlags, std::string* error) {
    const std::wstring source = PathList(from);
    const std::wstring destination =
        PathList(to.empty() ? std::vector<std::string>{} : std::vector<std::string>{to});
    SHFILEOPSTRUCTW op{};
    op.wFunc = function;
    op.pFrom = source.c_str();
    op.pTo = to.empty() ? nullptr : destination.c_str();
    op.fFlags = static_cast<FILEOP_FLAGS>(FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR |
                                          FOF_NOERRORUI | extraFlags);
    const int rc = ::SHFileOperationW(&op);
    if (rc == 0 && !op.fAnyOperationsAborted) {
        return true;
    }
    if (error != nullptr) {
        *error =
            rc != 0 ? ErrorText(static_cast<DWORD>(rc)) : std::string("The operation was aborted");
    }
    return false;
}

}  // namespace win32

bool MoveToTrash(const std::string& path, std::string* error) {
    const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (error != nullptr) {
            *error = win32::ErrorText(::GetLastError());
        }
        return false;
    }
    return win32::ShellFileOperation(FO_DELETE, {win32::FullPath(path)}, {}, FOF_ALLOWUNDO, error);
}

}  // namespace quorvel::platform
