#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/console.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

HANDLE StdinHandle() {
    return ::GetStdHandle(STD_INPUT_HANDLE);
}

// The mode before RawTerminal changed it; one console per process.
DWORD g_savedMode = 0;

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

}  // namespace

void ExitWithoutCleanup(int code) {
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    ::ExitProcess(static_cast<UINT>(code));  // not reached
}

int StandardOutputFd() {
    return 1;
}

bool WriteWhole(int fd, std::string_view text) {
    // A console shows UTF-16: names in any script print as they are. Files
    // and pipes get the UTF-8 bytes.
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (IsConsole(handle)) {
        const std::wstring wide = win32::Widen(text);
        std::size_t done = 0;
        while (done < wide.size()) {
            DWORD written = 0;
            if (!::WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                                 &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }
    while (!text.empty()) {
        const int n = ::_write(fd, text.data(), static_cast<unsigned>(text.size()));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool StdinIsTerminal() {
    return IsConsole(StdinHandle());
}

bool StdinIsForegroundTerminal() {
    return StdinIsTerminal();
}

RawTerminal::RawTerminal() {
    HANDLE in = StdinHandle();
    DWORD mode = 0;
    if (!IsConsole(in) || !::GetConsoleMode(in, &mode)) {
        return;
    }
    // Keys arrive one by one, unechoed, and Ctrl+C as a key.
    const DWORD raw = mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    if (::SetConsoleMode(in, raw)) {
        m_active = true;
        g_savedMode = mode;
    }
}

RawTerminal::~RawTerminal() {
    if (m_active) {
        ::SetConsoleMode(StdinHandle(), g_savedMode);
    }
}

struct KeyReader::Impl {
    win32::UniqueHandle wake{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> woken{false};
    bool readInput = StdinIsTerminal();
};

KeyReader::KeyReader() : m_impl(std::make_unique<Impl>()) {}

KeyReader::~KeyReader() = default;

void KeyReader::Wake() {
    m_impl->woken.store(true, std::memory_order_release);
    ::SetEvent(m_impl->wake.Get());
}

std::optional<unsigned char> KeyReader::ReadKey() {
    HANDLE in = StdinHandle();
    for (;;) {
        if (m_impl->woken.load(std::memory_order_acquire)) {
            return std::nullopt;
        }
        HANDLE handles[2] = {m_impl->wake.Get(), in};
        const DWORD count = m_impl->readInput ? 2 : 1;
        const DWORD rc = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (rc == WAIT_OBJECT_0) {
            continue;  // the flag is checked at the top
        }
        if (rc != WAIT_OBJECT_0 + 1) {
            return std::nullopt;
        }
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!::ReadConsoleInputW(in, &record, 1, &read) || read == 0) {
            m_impl->readInput = false;
            continue;
        }
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
            if (c != 0 && c < 0x80) {
                return static_cast<unsigned char>(c);
            }
        }
    }
}

}  // namespace quorvel::platform
