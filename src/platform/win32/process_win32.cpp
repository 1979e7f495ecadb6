#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "platform/process.h"
#include "platform/win32/win32_util.h"

// shellapi.h names these as macros for its own functions.
#undef ShellExecute
#undef FindExecutable

namespace quorvel::platform {

namespace {

int ShowCommand(ShowMode show) {
    switch (show) {
        case ShowMode::Minimized:
            return SW_MINIMIZE;
        case ShowMode::Maximized:
            return SW_SHOWMAXIMIZED;
        case ShowMode::Hidden:
            return SW_HIDE;
        case ShowMode::Normal:
        default:
            return SW_SHOWNORMAL;
    }
}

// A job for the process, so that terminating it ends what it started too (a
// batch file's programs). Nothing when the process cannot be put in one.
HANDLE JobFor(HANDLE process) {
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    if (!::AssignProcessToJobObject(job, process)) {
        ::CloseHandle(job);
        return nullptr;
    }
    return job;
}

// One argument quoted so that the program's start-up code (the rules of
// CommandLineToArgvW and the C runtime) reads it back unchanged.
void AppendQuoted(std::wstring& line, std::wstring_view word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        line += word;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

bool IsBatchFile(std::string_view path) {
    auto dot = path.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    std::string ext(path.substr(dot));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return ext == ".bat" || ext == ".cmd";
}

}  // namespace

ChildProcess AdoptNativeProcess(int pid, void* process, void* job) {
    ChildProcess child;
    child.m_pid = pid;
    child.m_process = process;
    child.m_job = job;
    return child;
}

ChildProcess::ChildProcess(int pid, UniqueFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}

ChildProcess::~ChildProcess() {
    Release();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_pidfd(std::move(other.m_pidfd)),
      m_ended(std::exchange(other.m_ended, false)),
      m_status(std::exchange(other.m_status, 0)),
      m_process(std::exchange(other.m_process, nullptr)),
      m_job(std::exchange(other.m_job, nullptr)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        m_pid = std::exchange(other.m_pid, -1);
        m_pidfd = std::move(other.m_pidfd);
        m_ended = std::exchange(other.m_ended, false);
        m_status = std::exchange(other.m_status, 0);
        m_process = std::exchange(other.m_process, nullptr);
        m_job = std::exchange(other.m_job, nullptr);
    }
    return *this;
}

// Windows keeps no zombies: letting go is closing the handles; the program
// and what it started run on.
void ChildProcess::Release() {
    if (m_process != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(m_process));
    }
    if (m_job != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(m_job));
    }
    m_process = nullptr;
    m_job = nullptr;
    m_pid = -1;
    m_ended = false;
    m_status = 0;
}

bool ChildProcess::Wait(std::optional<std::chrono::milliseconds> timeout) {
    if (m_process == nullptr) {
        return false;
    }
    if (m_ended) {
        return true;
    }
    DWORD limit = INFINITE;
    if (timeout) {
        limit = static_cast<DWORD>(std::clamp<long long>(timeout->count(), 0, INFINITE - 1));
    }
    if (::WaitForSingleObject(static_cast<HANDLE>(m_process), limit) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(static_cast<HANDLE>(m_process), &code);
    m_status = static_cast<int>(code);
    m_ended = true;
    return true;
}

std::optional<int> ChildProcess::ExitCode() const {
    if (!m_ended) {
        return std::nullopt;
    }
    return m_status;
}

std::optional<int> ChildProcess::TermSignal() const {
    return std::nullopt;
}

void ChildProcess::Terminate() {
    if (m_process == nullptr || m_ended) {
        return;
    }
    if (m_job == nullptr || !::TerminateJobObject(static_cast<HANDLE>(m_job), 0)) {
        ::TerminateProcess(static_cast<HANDLE>(m_process), 0);
    }
    Wait(std::chrono::milliseconds(5000));
}

ChildProcess Spawn(const std::string& program, const std::vector<std::string>& argv,
                   const SpawnOptions& options) {
    std::wstring line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) {
            line += L' ';
        }
        AppendQuoted(line, win32::Widen(argv[i]));
    }
    if (IsBatchFile(program)) {
        return {};  // cmd.exe would read the arguments as commands
    }
    const std::wstring application = win32::SystemPath(program);
    const std::wstring directory = win32::Widen(options.directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (options.hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info{};
    // Started suspended, so it is in its job before it can start anything.
    if (!::CreateProcessW(
            application.c_str(), line.data(), nullptr, nullptr, FALSE,
            CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | (options.hidden ? CREATE_NO_WINDOW : 0),
            nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        return {};
    }
    HANDLE job = JobFor(info.hProcess);
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    return AdoptNativeProcess(static_cast<int>(info.dwProcessId), info.hProcess, job);
}

namespace {
std::vector<std::string> SplitWindowsWords(std::string_view text, const std::vector<bool>* literal);
}  // namespace

ChildProcess ShellExecute(std::string_view command, std::string_view parameters,
                          std::string_view directory, ShowMode show,
                          const std::vector<bool>* literal) {
    // The parameters go to the program word by word as written; text a macro
    // put in stays inside its word, whatever blanks or quotes it holds.
    const std::vector<std::string> words = SplitWindowsWords(parameters, literal);
    std::wstring line;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            line += L' ';
        }
        AppendQuoted(line, win32::Widen(words[i]));
    }
    const std::wstring file = win32::Widen(command);
    if (IsBatchFile(ExpandEnvironmentReferences(command))) {
        // cmd.exe reads a batch file's arguments as commands: a name with
        // "&" or "%" in it would run something else.
        for (const auto& w : words) {
            if (w.find_first_of("%!&|<>^\"\r\n") != std::string::npos) {
                return {};
            }
        }
    }
    const std::wstring dir = win32::Widen(directory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CONNECTNETDRV | SEE_MASK_DOENVSUBST |
                 SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = line.empty() ? nullptr : line.c_str();
    info.lpDirectory = dir.empty() ? nullptr : dir.c_str();
    info.nShow = ShowCommand(show);
    if (!::ShellExecuteExW(&info) || info.hProcess == nullptr) {
        // Not started, or handed to a program that was running already.
        return {};
    }
    HANDLE job = JobFor(info.hProcess);
    return AdoptNativeProcess(static_cast<int>(::GetProcessId(info.hProcess)), info.hProcess, job);
}

namespace {

// Words as a Windows program's start-up code splits its command line:
// blanks separate, double quotes group, and backslashes are plain except
// before a quote (2n backslashes and a quote: n backslashes, the quote
// groups; 2n+1: n backslashes and a literal quote). Characters flagged in
// literal are plain text of their word.
std::vector<std::string> SplitWindowsWords(std::string_view text,
                                           const std::vector<bool>* literal) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    auto plain = [&](std::size_t i) {
        return literal != nullptr && i < literal->size() && (*literal)[i];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (plain(i)) {
            word += c;
            inWord = true;
            continue;
        }
        if (c == '\\') {
            std::size_t n = 0;
            while (i + n < text.size() && text[i + n] == '\\' && !plain(i + n)) {
                ++n;
            }
            if (i + n < text.size() && text[i + n] == '"' && !plain(i + n)) {
                word.append(n / 2, '\\');
                if (n % 2 == 1) {
                    word += '"';
                    i += n;  // the quote is taken
                } else {
                    i += n - 1;  // the quote comes next round
                }
            } else {
                word.append(n, '\\');
                i += n - 1;
            }
            inWord = true;
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"' && !plain(i + 1)) {
                word += '"';  // "" inside quotes is a quote
                ++i;
            } else {
                quoted = !quoted;
            }
            inWord = true;
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        word += c;
        inWord = true;
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

std::vector<std::string> SplitShellWords(std::string_view text, const std::vector<bool>* literal) {
    return SplitWindowsWords(text, literal);
}

std::string ExpandEnvironmentReferences(std::string_view text) {
    const std::wstring wide = win32::Widen(text);
    const DWORD size = ::ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        return std::string(text);
    }
    std::wstring out(size, L'\0');
    const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), out.data(), size);
    out.resize(n > 0 ? n - 1 : 0);
    return win32::Narrow(out);
}

std::optional<std::string> FindExecutable(std::string_view command, std::string_view directory) {
    const std::wstring name = win32::Widen(command);
    std::wstring path(MAX_PATH, L'\0');
    const std::wstring dir = win32::Widen(directory);
    for (;;) {
        const DWORD n = ::SearchPathW(dir.empty() ? nullptr : dir.c_str(), name.c_str(), L".exe",
                                      static_cast<DWORD>(path.size()), path.data(), nullptr);
        if (n == 0) {
            return std::nullopt;
        }
        if (n < path.size()) {
            path.resize(n);
            return win32::Narrow(path);
        }
        path.resize(n);
    }
}

std::size_t ChildrenAwaitingReaper() {
    return 0;
}

}  // namespace quorvel::platform
