#include <pwd.h>
#include <sys/socket.h>
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

namespace {

// True when path is a real directory of ours that nobody else may enter;
// why says what is wrong otherwise.
bool PrivateDirectory(const std::string& path, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        why = "\"" + path + "\" does not exist";
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = "\"" + path + "\" is not a directory";
    } else if (st.st_uid != ::geteuid()) {
        why = "\"" + path + "\" belongs to another user";
    } else if ((st.st_mode & 077) != 0) {
        why = "\"" + path + "\" is open to other users";
    } else {
        return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> PrivateRuntimeDirectory(std::string* error) {
    std::string why;
    if (auto runtime = GetEnvironment("XDG_RUNTIME_DIR"); runtime && !runtime->empty()) {
        while (runtime->size() > 1 && runtime->back() == '/') {
            runtime->pop_back();
        }
        if (PrivateDirectory(*runtime, why)) {
            return *runtime;
        }
    }
    std::error_code ec;
    std::string temp = std::filesystem::temp_directory_path(ec).string();
    if (ec || temp.empty()) {
        temp = "/tmp";
    }
    while (temp.size() > 1 && temp.back() == '/') {
        temp.pop_back();
    }
    const std::string dir = temp + "/quorvel-" + std::to_string(::geteuid());
    ::mkdir(dir.c_str(), 0700);  // an existing one is checked below, whoever made it
    if (PrivateDirectory(dir, why)) {
        return dir;
    }
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

std::optional<unsigned> SocketPeerUserId(long long descriptor) {
    struct ucred credentials {};
    socklen_t length = sizeof(credentials);
    if (descriptor < 0 || ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED,
                                       &credentials, &length) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(credentials.uid);
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
