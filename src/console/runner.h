#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

/// Writes text to standard output at once (no buffering behind it).
void Print(const std::string& text);

/// "Can not load configuration file "PATH".", the path escaped.
std::string LoadFailureText(const std::string& path);

/// The console run mode: loads the configuration (the default one when
/// there is none), prints the "loaded" and "started" lines and monitors
/// until X, Ctrl+C, SIGINT, SIGTERM or SIGHUP. SIGUSR1 and SIGUSR2 pause and
/// continue every item. Answers the exit code: 1 when the configuration
/// cannot be opened (after printing so), else 0.
int RunConsole(const std::optional<std::string>& config);

/// The service body under the service manager: reports over $NOTIFY_SOCKET,
/// runs the configuration (given, or $QUORVEL_CONFIG, or the service's
/// default) until SIGTERM or SIGINT, pauses on SIGUSR1 and continues on
/// SIGUSR2. Answers 1 without printing anything when there is no
/// $NOTIFY_SOCKET, and 1 when the configuration cannot be opened.
int RunService(const std::optional<std::string>& config);

/// The configuration the service body runs: the one given, else the first
/// start argument, else $QUORVEL_CONFIG, else the service's default.
std::string ServiceConfigurationFile(const std::optional<std::string>& config,
                                     const std::vector<std::string>& started = {});

/// Text made safe for one "STATUS=" assignment: control characters, which
/// would end the line and start another assignment, become blanks.
std::string StatusText(std::string_view text);

}  // namespace quorvel
