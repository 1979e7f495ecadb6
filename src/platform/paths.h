#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::platform {

/// The separator between path components ("/" here, "\" on Windows).
extern const char kPathSeparator;

/// The line ending written to text files ("\n" here, "\r\n" on Windows).
/// Readers always accept both.
extern const char* const kLineEnding;

/// Joins the components of a relative path given from the last to the
/// first ("c", "b", "a" gives "a/b/c"), as a walk up from a leaf finds them.
inline std::string JoinFromLeaf(const std::vector<const std::string*>& parts, char separator) {
    std::string path;
    for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
        if (!path.empty()) {
            path += separator;
        }
        path += **p;
    }
    return path;
}

/// Full path of the running program file.
std::string ExecutablePath();

/// Directory of the running program file, with a trailing separator.
std::string ExecutableDirectory();

/// The process's current directory, without a trailing separator.
std::string CurrentDirectory();

/// Value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);

/// Sets an environment variable of this process (and of the programs it
/// starts afterwards), or removes it when there is no value. Not safe while
/// other threads read the environment.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);

/// The user's home directory ($HOME, else the password database).
std::string HomeDirectory();

/// True when the process runs as the system's administrator (root).
bool IsPrivileged();

/// The id of the user the process runs as.
unsigned CurrentUserId();

/// A directory for this user's sockets that nobody else can enter:
/// $XDG_RUNTIME_DIR when it is a directory of this user's without access
/// for others, else "quorvel-<uid>" in the temporary directory, created with
/// mode 0700 when missing. Nothing, with the reason in error, when that one
/// is a link, another user's or open to others. No trailing separator.
std::optional<std::string> PrivateRuntimeDirectory(std::string* error = nullptr);

/// The user id of the process at the other end of a connected local socket
/// (its descriptor); nothing when the system cannot tell.
std::optional<unsigned> SocketPeerUserId(long long descriptor);

/// Directory for this program's user settings: $XDG_CONFIG_HOME/quorvel
/// (~/.config/quorvel). No trailing separator; not created.
std::string UserConfigDirectory();

/// Directory for this program's cache files: $XDG_CACHE_HOME/quorvel
/// (~/.cache/quorvel), or /var/cache/quorvel for a system service.
/// No trailing separator; not created.
std::string DefaultCacheDirectory(bool systemService = false);

/// The default configuration file: UserConfigDirectory()/default.mon, or
/// /etc/quorvel/default.mon for a system service.
std::string DefaultConfigurationFile(bool systemService = false);

/// Locates shipped data such as "Lang" or "Help": first beside the program
/// file, then in ../share/quorvel/ relative to it. Answers the directory with
/// a trailing separator; when neither exists, the one beside the program.
std::string ShippedDataDirectory(const std::string& name);

}  // namespace quorvel::platform
