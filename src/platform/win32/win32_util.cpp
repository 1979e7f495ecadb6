#include "platform/win32/win32_util.h"

namespace quorvel::platform::win32 {

std::wstring Widen(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                          size, nullptr, nullptr);
    return narrow;
}

std::wstring SystemPath(std::string_view path) {
    std::wstring wide = Widen(path);
    for (auto& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (wide.size() >= MAX_PATH - 12 && !wide.starts_with(L"\\\\?\\")) {
        if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') {
            wide.insert(0, L"\\\\?\\");
        } else if (wide.starts_with(L"\\\\")) {
            wide.replace(0, 2, L"\\\\?\\UNC\\");
        }
    }
    return wide;
}

std::string ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text = Narrow(std::wstring_view(buffer, length));
    }
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = "error " + std::to_string(error);
    }
    return text;
}

EpochTime FileTimeToEpoch(const FILETIME& time) {
    // 100 ns ticks between 1601-01-01 and 1970-01-01.
    constexpr long long kEpochTicks = 116444736000000000LL;
    const long long ticks = SizeFromParts(time.dwHighDateTime, time.dwLowDateTime) - kEpochTicks;
    long long seconds = ticks / 10000000LL;
    long long rest = ticks % 10000000LL;
    if (rest < 0) {
        rest += 10000000LL;
        --seconds;
    }
    return {seconds, static_cast<std::int32_t>(rest * 100)};
}

}  // namespace quorvel::platform::win32
