#pragma once

#include <dirent.h>

#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace quorvel::platform {

/// Owns an open directory stream and closes it when destroyed. Move-only.
class DirHandle {
public:
    DirHandle() = default;
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    DirHandle(DirHandle&& other) noexcept : m_dir(std::exchange(other.m_dir, nullptr)) {}
    DirHandle& operator=(DirHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_dir, nullptr));
        }
        return *this;
    }
    ~DirHandle() { Reset(); }

    /// Opens the directory at path; an invalid handle when it cannot.
    static DirHandle Open(const std::string& path);
    /// Takes over the descriptor of an open directory; on failure the
    /// descriptor is closed and the handle is invalid.
    static DirHandle Adopt(UniqueFd fd);

    DIR* Get() const { return m_dir; }
    explicit operator bool() const { return m_dir != nullptr; }
    /// The next entry, or nullptr at the end.
    dirent* Next() { return m_dir != nullptr ? ::readdir(m_dir) : nullptr; }

private:
    explicit DirHandle(DIR* dir) : m_dir(dir) {}
    void Reset(DIR* dir = nullptr);

    DIR* m_dir = nullptr;
};

}  // namespace quorvel::platform
