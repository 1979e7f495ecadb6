#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/paths.h"

namespace quorvel::test {

std::string Lf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

bool UnderWine() {
    return platform::GetEnvironment("QUORVEL_UNDER_WINE").value_or("") == "1";
}

bool OnWindows() {
    return platform::kPathSeparator == '\\';
}

TempDir::TempDir() {
    std::random_device rd;
    std::mt19937_64 rng(rd());
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("quorvel-test-" + std::to_string(rng() % 100000000000ULL));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            m_path = candidate;
            break;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Permission tests may leave directories without access; open them up first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    auto path = m_path / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path.string();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace quorvel::test
