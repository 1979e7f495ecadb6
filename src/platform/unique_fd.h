#pragma once

#include <utility>

namespace quorvel::platform {

/// Owns one file descriptor and closes it when destroyed. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_fd, -1));
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }

    /// The descriptor, or -1. Ownership stays here.
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    explicit operator bool() const { return Valid(); }

    /// Gives up ownership: answers the descriptor, which the caller must close.
    [[nodiscard]] int Release() { return std::exchange(m_fd, -1); }

    /// Closes the held descriptor and takes fd instead.
    void Reset(int fd = -1);

    /// Closes the held descriptor now and reports whether close succeeded
    /// (a failed close can mean lost data). The descriptor is gone either way.
    bool Close();

private:
    int m_fd = -1;
};

}  // namespace quorvel::platform
