#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace quorvel::platform {

/// The system's text for an errno value.
inline std::string ErrnoText(int error) {
    return std::system_category().message(error);
}

/// An absolute, normalised path without trailing separators (except "/").
inline std::filesystem::path Absolute(const std::string& text) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(text), ec);
    if (ec) {
        p = std::filesystem::path(text);
    }
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') {
        s.pop_back();
    }
    return std::filesystem::path(s);
}

/// The entry itself, a symlink not followed; nothing when it does not exist.
inline std::optional<struct stat> LinkStat(const std::filesystem::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st;
}

}  // namespace quorvel::platform
