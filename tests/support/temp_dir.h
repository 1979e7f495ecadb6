#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::test {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes away (also when a test fails).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    /// Path of a name inside the directory, as a string.
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    /// Writes a file (creating parent directories) and answers its path.
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

/// A test fixture that owns a TempDir.
class TempDirTest : public ::testing::Test {
protected:
    TempDir m_dir;
};

/// Polls the condition until it holds or the deadline passes. Tests never
/// assert on timing: the deadline is generous and only ends a failing wait.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(20));

/// Collects values from other threads; a test waits for a count with a deadline.
template <typename T>
class Collector {
public:
    void Add(T value) {
        {
            std::lock_guard lock(m_mutex);
            m_values.push_back(std::move(value));
        }
        m_cv.notify_all();
    }
    bool WaitForCount(std::size_t count,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, deadline, [&] { return m_values.size() >= count; });
    }
    std::vector<T> Values() const {
        std::lock_guard lock(m_mutex);
        return m_values;
    }
    std::size_t Count() const {
        std::lock_guard lock(m_mutex);
        return m_values.size();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<T> m_values;
};

/// The text with every CR LF turned into LF, so that text written with the
/// platform's line endings compares with the same literals everywhere.
std::string Lf(std::string_view text);

/// True in the Windows build: "\" separates paths, files have no POSIX
/// modes, and the options live in the registry.
bool OnWindows();

/// True when the tests run under Wine (the test harness says so), which
/// lacks some of Windows: it reports no changes below a watched directory.
bool UnderWine();

/// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace quorvel::test
