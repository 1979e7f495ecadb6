#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/paths.h"

namespace quorvel::platform {

const char kPathSeparator = '/';
const char* const kLineEnding = "\n";

std::string ExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return p.string();
}

std::string ExecutableDirectory() {
    std::string path = ExecutablePath();
    auto pos = path.rfind('/');
    if (pos == std::string::npos) {
        return "./";
    }
    return path.substr(0, pos + 1);
}

std::string CurrentDirectory() {
    std::error_code ec;
    auto p = std::filesystem::current_path(ec);
    return ec ? std::string(".") : p.string();
}

std::optional<std::string> GetEnvironment(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    if (v == nullptr) {
        return std::nullopt;
    }
    return std::string(v);
}

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

std::string HomeDirectory() {
    if (auto home = GetEnvironment("HOME"); home && !home->empty()) {
        return *home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return "/";
}

unsigned CurrentUserId() {
    return static_cast<unsigned>(::getuid());
}

bool IsPrivileged() {
    return geteuid() == 0;
}

namespace {

std::string XdgDirectory(const char* variable, const char* fallback) {
    // The XDG rules ignore relative values.
    if (auto v = GetEnvironment(variable); v && !v->empty() && (*v)[0] == '/') {
        return *v;
    }
    return HomeDirectory() + "/" + fallback;
}

}  // namespace

std::string UserConfigDirectory() {
    return XdgDirectory("XDG_CONFIG_HOME", ".config") + "/quorvel";
}

std::string DefaultCacheDirectory(bool systemService) {
    if (systemService) {
        return "/var/cache/quorvel";
    }
    return XdgDirectory("XDG_CACHE_HOME", ".cache") + "/quorvel";
}

std::string DefaultConfigurationFile(bool systemService) {
    if (systemService) {
        return "/etc/quorvel/default.mon";
    }
    return UserConfigDirectory() + "/default.mon";
}

std::string ShippedDataDirectory(const std::string& name) {
    std::string dir = ExecutableDirectory();
    std::string beside = dir + name + "/";
    struct stat st {};
    if (::stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return beside;
    }
    std::string shared = dir + "../share/quorvel/" + name + "/";
    if (::stat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return shared;
    }
    return beside;
}

}  // namespace quorvel::platform
