#include <windows.h>

#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/win32/win32_util.h"

// On Windows the program's own directory holds what the Linux build keeps in
// the XDG directories: "default.mon", "cache", "Lang" and "Help".

namespace quorvel::platform {

const char kPathSeparator = '\\';
const char* const kLineEnding = "\r\n";

std::string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            if (path.starts_with(L"\\\\?\\") && !path.starts_with(L"\\\\?\\UNC\\")) {
                path.erase(0, 4);
            }
            return win32::Narrow(path);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableDirectory() {
    std::string path = ExecutablePath();
    const auto pos = path.find_last_of("\\/");
    if (pos == std::string::npos) {
        return ".\\";
    }
    return path.substr(0, pos + 1);
}

std::string CurrentDirectory() {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    if (size == 0) {
        return ".";
    }
    std::wstring dir(size, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(size, dir.data());
    dir.resize(n);
    while (dir.size() > 3 && dir.back() == L'\\') {
        dir.pop_back();
    }
    return win32::Narrow(dir);
}

std::optional<std::string> GetEnvironment(const std::string& name) {
    const std::wstring wide = win32::Widen(name);
    const DWORD size = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return std::nullopt;
        }
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wide.c_str(), value.data(), size);
    value.resize(n);
    return win32::Narrow(value);
}

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    const std::wstring wide = win32::Widen(name);
    if (value) {
        ::SetEnvironmentVariableW(wide.c_str(), win32::Widen(*value).c_str());
    } else {
        ::SetEnvironmentVariableW(wide.c_str(), nullptr);
    }
}

std::string HomeDirectory() {
    if (auto home = GetEnvironment("USERPROFILE"); home && !home->empty()) {
        return *home;
    }
    wchar_t* known = nullptr;
    std::string path = "C:\\";
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &known)) && known) {
        path = win32::Narrow(known);
    }
    ::CoTaskMemFree(known);
    return path;
}

bool IsPrivileged() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

std::optional<std::string> PrivateRuntimeDirectory(std::string* /*error*/) {
    // The user's own temporary directory, which others cannot enter.
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::string dir = win32::Narrow(std::wstring_view(buffer, n));
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) {
        dir.pop_back();
    }
    return dir;
}

std::optional<unsigned> SocketPeerUserId(long long /*descriptor*/) {
    return std::nullopt;
}

unsigned CurrentUserId() {
    // The session stands in for the user: per-user names stay apart between
    // users logged on at once.
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    return static_cast<unsigned>(session);
}

std::string UserConfigDirectory() {
    if (auto appData = GetEnvironment("APPDATA"); appData && !appData->empty()) {
        return *appData + "\\Feldrane\\Quorvel";
    }
    return HomeDirectory() + "\\AppData\\Roaming\\Feldrane\\Quorvel";
}

std::string DefaultCacheDirectory(bool /*systemService*/) {
    return ExecutableDirectory() + "cache";
}

std::string DefaultConfigurationFile(bool /*systemService*/) {
    return ExecutableDirectory() + "default.mon";
}

std::string ShippedDataDirectory(const std::string& name) {
    const std::string dir = ExecutableDirectory();
    const std::string beside = dir + name + "\\";
    const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(beside).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const std::string shared = dir + "..\\share\\quorvel\\" + name + "\\";
        const DWORD a = ::GetFileAttributesW(win32::SystemPath(shared).c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return shared;
        }
    }
    return beside;
}

}  // namespace quorvel::platform
