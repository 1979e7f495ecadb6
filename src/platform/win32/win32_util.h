#pragma once

// What every Windows source here shares: UTF-8 to UTF-16 at the system's
// door, owned handles, and long paths.

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/local_time.h"

namespace quorvel::platform::win32 {

/// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view text);
/// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Narrow(std::wstring_view text);

/// A path for the W functions: separators turned into "\", and an absolute
/// path longer than the classic limit given the "\\?\" prefix so that it
/// may be as long as the file system allows.
std::wstring SystemPath(std::string_view path);

/// The system's message for an error code, in UTF-8, without the line end.
std::string ErrorText(DWORD error);

/// Owns one kernel handle and closes it when destroyed. Move-only. Both
/// null and INVALID_HANDLE_VALUE count as no handle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_handle, nullptr));
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    void Reset(HANDLE handle = nullptr) {
        if (Valid()) {
            ::CloseHandle(m_handle);
        }
        m_handle = handle;
    }
    [[nodiscard]] HANDLE Release() { return std::exchange(m_handle, nullptr); }

private:
    HANDLE m_handle = nullptr;
};

/// Owns a find handle of FindFirstFileExW.
class UniqueFind {
public:
    UniqueFind() = default;
    explicit UniqueFind(HANDLE handle) : m_handle(handle) {}
    UniqueFind(const UniqueFind&) = delete;
    UniqueFind& operator=(const UniqueFind&) = delete;
    UniqueFind(UniqueFind&& other) noexcept
        : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    UniqueFind& operator=(UniqueFind&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_handle, INVALID_HANDLE_VALUE));
        }
        return *this;
    }
    ~UniqueFind() { Reset(); }
    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (Valid()) {
            ::FindClose(m_handle);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

/// FILETIME (100 ns since 1601, UTC) as seconds and nanoseconds since 1970.
EpochTime FileTimeToEpoch(const FILETIME& time);

/// A size the system gives as two 32-bit halves.
inline std::int64_t SizeFromParts(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<unsigned long long>(high) << 32) | low);
}

}  // namespace quorvel::platform::win32
