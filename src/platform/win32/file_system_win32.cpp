#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "platform/file_system.h"
#include "platform/unique_fd.h"
#include "platform/win32/file_info_win32.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace win32 {

FileInfo InfoFromHandle(HANDLE file) {
    FileInfo info;
    BY_HANDLE_FILE_INFORMATION data{};
    if (!::GetFileInformationByHandle(file, &data)) {
        return info;
    }
    info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegular = !info.isDirectory && ::GetFileType(file) == FILE_TYPE_DISK;
    info.size = SizeFromParts(data.nFileSizeHigh, data.nFileSizeLow);
    info.modified = FileTimeToEpoch(data.ftLastWriteTime);
    info.device = data.dwVolumeSerialNumber;
    info.inode = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    return info;
}

FileInfo InfoFromFindData(const WIN32_FIND_DATAW& data) {
    FileInfo info;
    info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isSymlink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                     data.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
    info.isRegular = !info.isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info.size = SizeFromParts(data.nFileSizeHigh, data.nFileSizeLow);
    info.modified = FileTimeToEpoch(data.ftLastWriteTime);
    return info;
}

UniqueHandle OpenForQuery(const std::string& path) {
    // No access rights asked: this works even for files others hold open
    // without sharing. Backup semantics lets directories open too.
    return UniqueHandle(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace win32

namespace {

std::string FollowLinks(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    win32::UniqueHandle file = win32::OpenForQuery(path);
    if (!file) {
        return path;
    }
    std::wstring target(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(file.Get(), target.data(),
                                                    static_cast<DWORD>(target.size()), 0);
        if (n == 0) {
            return path;
        }
        if (n < target.size()) {
            target.resize(n);
            break;
        }
        target.resize(n + 1);
    }
    if (target.starts_with(L"\\\\?\\UNC\\")) {
        target.replace(0, 8, L"\\\\");
    } else if (target.starts_with(L"\\\\?\\")) {
        target.erase(0, 4);
    }
    return win32::Narrow(target);
}

}  // namespace

// Windows gives links to administrators alone by default: every link is
// followed.
std::optional<std::string> WriteTarget(const std::string& path, std::string* /*error*/) {
    return FollowLinks(path);
}

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, bool append,
                                             std::string* error) {
    auto fail = [&](DWORD code) -> std::unique_ptr<OutputFile> {
        if (error != nullptr) {
            *error = "Cannot write \"" + path + "\": " + win32::ErrorText(code);
        }
        return nullptr;
    };
    win32::UniqueHandle file(::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail(::GetLastError());
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        return fail(ERROR_INVALID_FUNCTION);
    }
    if (append) {
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(file.Get(), zero, nullptr, FILE_END)) {
            return fail(::GetLastError());
        }
    } else if (!::SetEndOfFile(file.Get())) {
        return fail(::GetLastError());
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        return fail(ERROR_INVALID_HANDLE);
    }
    (void)file.Release();  // the descriptor owns it now
    return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

OutputFile::~OutputFile() {
    UniqueFd closing(m_fd);
}

bool OutputFile::Write(std::string_view data) {
    if (m_failed) {
        return false;
    }
    while (!data.empty()) {
        const int n = ::_write(m_fd, data.data(), static_cast<unsigned>(data.size()));
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<FileInfo> Stat(const std::string& path) {
    if (win32::UniqueHandle file = win32::OpenForQuery(path)) {
        return win32::InfoFromHandle(file.Get());  // the link's target
    }
    // A dangling link, or a file that refuses even a query: what its
    // directory says about it.
    WIN32_FIND_DATAW data{};
    win32::UniqueFind find(::FindFirstFileExW(win32::SystemPath(path).c_str(), FindExInfoBasic,
                                              &data, FindExSearchNameMatch, nullptr, 0));
    if (!find.Valid() || path.find_first_of("*?") != std::string::npos) {
        return std::nullopt;
    }
    return win32::InfoFromFindData(data);
}

bool ListDirectory(const std::string& directory,
                   const std::function<bool(const DirectoryEntry&)>& visit) {
    std::string pattern = directory.empty() ? std::string(".") : directory;
    if (pattern.back() != '\\' && pattern.back() != '/') {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAW data{};
    win32::UniqueFind find(::FindFirstFileExW(win32::SystemPath(pattern).c_str(), FindExInfoBasic,
                                              &data, FindExSearchNameMatch, nullptr,
                                              FIND_FIRST_EX_LARGE_FETCH));
    if (!find.Valid()) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty root of a drive
    }
    DirectoryEntry entry;
    do {
        const std::wstring_view name(data.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        entry.name = win32::Narrow(name);
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (!visit(entry)) {
            break;
        }
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

// Windows tells who holds a file open by refusing an exclusive open, so
// nothing is captured ahead.
OpenWriters OpenWriters::Capture() {
    return {};
}

bool OpenWriters::Contains(std::uint64_t device, std::uint64_t inode) const {
    return m_keys && m_keys->count({device, inode}) > 0;
}

bool OpenWriters::Empty() const {
    return !m_keys || m_keys->empty();
}

bool IsFileInUse(const std::string& path) {
    win32::UniqueHandle file(::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_READ, 0,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        return false;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool HasConflictingLock(const std::string& path) {
    return IsFileInUse(path);
}

bool CanRead(const std::string& path) {
    return Stat(path).has_value();
}

bool CanWriteIn(const std::string& directory) {
    const DWORD a = ::GetFileAttributesW(win32::SystemPath(directory).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (a & FILE_ATTRIBUTE_READONLY) == 0;
}

bool CreateDirectories(const std::string& path, unsigned /*mode*/) {
    // One component at a time, each through the long-path form, so that any
    // depth works.
    auto isDirectory = [](const std::string& p) {
        const DWORD a = ::GetFileAttributesW(win32::SystemPath(p).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    };
    if (path.empty()) {
        return false;
    }
    std::size_t pos = 0;
    if (path.size() >= 2 && path[1] == ':') {
        pos = 3;  // "C:\"
    } else if (path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0) {
        pos = path.find_first_of("\\/", 2);  // past the server
        pos = pos == std::string::npos ? path.size() : path.find_first_of("\\/", pos + 1);
    }
    while (pos != std::string::npos && pos < path.size()) {
        pos = path.find_first_of("\\/", pos + 1);
        const std::string prefix = path.substr(0, pos);
        if (!isDirectory(prefix)) {
            ::CreateDirectoryW(win32::SystemPath(prefix).c_str(), nullptr);
        }
    }
    return isDirectory(path);
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(win32::SystemPath(path).c_str()) != 0;
}

struct InputFile::Impl {
    win32::UniqueHandle file;
};

InputFile::InputFile(std::unique_ptr<Impl> impl, std::string path, std::uint64_t size)
    : m_impl(std::move(impl)), m_path(std::move(path)), m_size(size) {}

InputFile::~InputFile() = default;

std::unique_ptr<InputFile> InputFile::Open(const std::string& path, std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<InputFile> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return nullptr;
    };
    win32::UniqueHandle file(::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                           nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        return fail(code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                        ? std::string()
                        : "Cannot read \"" + path + "\": " + win32::ErrorText(code));
    }
    // Only files on disk: a pipe or a device may block or never end.
    BY_HANDLE_FILE_INFORMATION data{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.Get(), &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return fail("\"" + path + "\" is not a regular file");
    }
    const auto size =
        static_cast<std::uint64_t>(win32::SizeFromParts(data.nFileSizeHigh, data.nFileSizeLow));
    auto impl = std::make_unique<Impl>();
    impl->file = std::move(file);
    return std::unique_ptr<InputFile>(new InputFile(std::move(impl), path, size));
}

std::optional<std::size_t> InputFile::Read(char* data, std::size_t size, std::string* error) {
    // A file that grows while it is read ends where it ended when opened.
    if (m_size > 0) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_size - m_read));
    }
    if (size == 0) {
        return 0;
    }
    DWORD read = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(m_impl->file.Get(), data, want, &read, nullptr)) {
        if (error != nullptr) {
            *error = "Cannot read \"" + m_path + "\": " + win32::ErrorText(::GetLastError());
        }
        return std::nullopt;
    }
    m_read += read;
    return static_cast<std::size_t>(read);
}

struct AtomicFile::Impl {
    win32::UniqueHandle file;
    std::string path;
    std::string tempPath;
    std::string error;
    bool failed = false;
    bool committed = false;

    bool Fail(DWORD code) {
        failed = true;
        if (error.empty()) {
            error = "Cannot write \"" + path + "\": " + win32::ErrorText(code);
        }
        return false;
    }
};

AtomicFile::AtomicFile() : m_impl(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    m_impl->file.Reset();
    if (!m_impl->committed && !m_impl->tempPath.empty()) {
        ::DeleteFileW(win32::SystemPath(m_impl->tempPath).c_str());
    }
}

bool AtomicFile::Open(const std::string& path, unsigned /*mode*/) {
    // A link is written through: the file it leads to is replaced.
    const std::string target = FollowLinks(path);
    m_impl->path = target.empty() ? path : target;
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".tmp%012llx",
                      static_cast<unsigned long long>(rng() & 0xffffffffffffULL));
        const std::string temp = target + suffix;
        HANDLE file = ::CreateFileW(win32::SystemPath(temp).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            m_impl->file.Reset(file);
            m_impl->tempPath = temp;
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return m_impl->Fail(::GetLastError());
}

bool AtomicFile::Write(std::string_view data) {
    if (m_impl->failed || !m_impl->file) {
        m_impl->failed = true;
        return false;
    }
    while (!data.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        if (!::WriteFile(m_impl->file.Get(), data.data(), chunk, &written, nullptr) ||
            written == 0) {
            return m_impl->Fail(::GetLastError());
        }
        data.remove_prefix(written);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (m_impl->failed || !m_impl->file) {
        return false;
    }
    if (!::FlushFileBuffers(m_impl->file.Get())) {
        return m_impl->Fail(::GetLastError());
    }
    m_impl->file.Reset();
    if (!::MoveFileExW(win32::SystemPath(m_impl->tempPath).c_str(),
                       win32::SystemPath(m_impl->path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return m_impl->Fail(::GetLastError());
    }
    m_impl->committed = true;
    return true;
}

std::string AtomicFile::Error() const {
    return m_impl->error.empty() ? "Cannot write \"" + m_impl->path + "\"" : m_impl->error;
}

}  // namespace quorvel::platform
