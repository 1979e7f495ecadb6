#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

/// What the console program was asked to do.
enum class CommandKind {
    Run,      ///< monitor a configuration until X or a signal
    Service,  ///< the service body under the service manager
    Start,
    Stop,
    Install,
    Remove,
    Usage,
    Version,
    Check,     ///< report what is wrong with a configuration; start nothing
    Once,      ///< check every item once, act, write the caches, exit
    Describe,  ///< print what a configuration's items watch and do
};

struct CommandLine {
    CommandKind kind = CommandKind::Run;
    /// Remote computer for Start and Stop, as typed without the two leading
    /// backslashes; empty for the local one.
    std::string host;
    /// Configuration for Run, Start, Service, Check, Once and Describe,
    /// exactly as typed; none for the default one.
    std::optional<std::string> config;
    /// "-q" came first: the activity log shows only what failed.
    bool quiet = false;
    /// Once: "/force" came right after "/once": the schedule is not asked.
    bool force = false;
    /// Check: "/service" came instead of a file: the configuration that the
    /// service would run is checked (the unit runs this before each start).
    bool serviceFile = false;
};

/// Reads the arguments after the program name. A first "-q" (or "/q") asks
/// for a quiet activity log and is taken off. Only the first argument left
/// is compared with the commands, without regard to letter case; anything
/// else is the configuration file of the run mode. "/check", "/once" and
/// "/describe" (also "--check", "--once", "--describe") take an optional
/// configuration file; "/once" takes "/force" (or "--force") before it.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

/// The banner line, without line break: "Quorvel <version> [console version], ..."
std::string BannerLine();

/// The usage text with the program's file name filled in, ending with a
/// line break.
std::string UsageText(std::string_view programName);

/// The file name part of a program path.
std::string ProgramFileName(std::string_view path);

/// Fills the first "%s" of a message format with argument and turns "%%"
/// into "%". Other "%" sequences stay as they are, so a translated text can
/// never make the formatting read arguments that are not there.
std::string FormatMessage(std::string_view format, std::string_view argument);

}  // namespace quorvel
