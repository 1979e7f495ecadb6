#include "console/command_line.h"

#include "core/text_util.h"
#include "core/version.h"
#include "platform/paths.h"

namespace quorvel {

namespace {

bool HasHostPrefix(const std::string& argument) {
    return argument.size() >= 2 && argument[0] == '\\' && argument[1] == '\\';
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& given) {
    CommandLine result;
    std::vector<std::string> arguments = given;
    if (!arguments.empty() && (arguments[0] == "-q" || EqualsIgnoreCase(arguments[0], "/q"))) {
        result.quiet = true;
        arguments.erase(arguments.begin());
    }
    if (arguments.empty()) {
        return result;
    }
    const std::string& first = arguments[0];
    if (EqualsIgnoreCase(first, "/service")) {
        result.kind = CommandKind::Service;
        if (arguments.size() >= 2) {
            result.config = arguments[1];
        }
    } else if (EqualsIgnoreCase(first, "/start")) {
        result.kind = CommandKind::Start;
        if (arguments.size() >= 2) {
            if (HasHostPrefix(arguments[1])) {
                result.host = arguments[1].substr(2);
                if (arguments.size() >= 3) {
                    result.config = arguments[2];
                }
            } else {
                result.config = arguments[1];
            }
        }
    } else if (EqualsIgnoreCase(first, "/stop")) {
        result.kind = CommandKind::Stop;
        if (arguments.size() >= 2 && HasHostPrefix(arguments[1])) {
            result.host = arguments[1].substr(2);
        }
    } else if (EqualsIgnoreCase(first, "/install")) {
        result.kind = CommandKind::Install;
    } else if (EqualsIgnoreCase(first, "/remove")) {
        result.kind = CommandKind::Remove;
    } else if (first == "/?" || first == "--help" || first == "-h") {
        result.kind = CommandKind::Usage;
    } else if (first == "--version") {
        result.kind = CommandKind::Version;
    } else if (EqualsIgnoreCase(first, "/check") || first == "--check") {
        result.kind = CommandKind::Check;
        if (arguments.size() >= 2 && EqualsIgnoreCase(arguments[1], "/service")) {
            result.serviceFile = true;
        } else if (arguments.size() >= 2) {
            result.config = arguments[1];
        }
    } else if (EqualsIgnoreCase(first, "/describe") || first == "--describe") {
        result.kind = CommandKind::Describe;
        if (arguments.size() >= 2) {
            result.config = arguments[1];
        }
    } else if (EqualsIgnoreCase(first, "/once") || first == "--once") {
        result.kind = CommandKind::Once;
        std::size_t next = 1;
        if (arguments.size() > next &&
            (EqualsIgnoreCase(arguments[next], "/force") || arguments[next] == "--force")) {
            result.force = true;
            ++next;
        }
        if (arguments.size() > next) {
            result.config = arguments[next];
        }
    } else {
        result.config = first;
    }
    return result;
}

std::string BannerLine() {
    return std::string(kProductName) + " " + kVersion +
           " [console version], (c) Feldrane and the Quorvel developers";
}

std::string UsageText(std::string_view programName) {
    static constexpr const char* kLines[] = {
        "Usage:",
        "",
        ">%s [config file]",
        " Start monitoring with specific config file. If no file is supplied",
        " then \"default.mon\" file will be loaded.",
        "",
        ">%s -q [config file]",
        " The same; the activity log on standard error shows only errors.",
        "",
        ">%s /install",
        " Install NT service on the local computer.",
        "",
        ">%s /remove",
        " Remove NT service from the local computer.",
        "",
        ">%s /start [\\\\computer] [config file]",
        " Start NT service on the specified computer (local if omitted) and load",
        " specific config file. If no file is supplied then \"default.mon\" file",
        " will be loaded.",
        "",
        ">%s /stop [\\\\computer]",
        " Stop NT service on the specified computer (local if omitted).",
        "",
        ">%s /check [config file]",
        " Check the config file and start nothing: print each problem with its line",
        " and exit with 1 when one is an error, else 0.",
        "",
        ">%s /once [/force] [config file]",
        " Check every item once, run the actions of those whose condition holds,",
        " write the caches and exit: 0 when no item acted, 2 when one did, 1 on an",
        " error. /force checks the items outside their schedule too.",
        "",
        ">%s /describe [config file]",
        " Print what the items of the config file watch and do.",
        "",
        ">%s /?",
        " This help screen.",
        "",
        "You can use NT Services Manager to start/stop installed service and to change",
        "parameters of the service.",
    };
    std::string text;
    for (const char* line : kLines) {
        text += FormatMessage(line, programName);
        text += '\n';
    }
    return text;
}

std::string ProgramFileName(std::string_view path) {
    // Windows accepts both separators.
    const char separators[] = {'/', platform::kPathSeparator, '\0'};
    auto slash = path.find_last_of(separators);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FormatMessage(std::string_view format, std::string_view argument) {
    std::string out;
    out.reserve(format.size() + argument.size());
    bool filled = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            char next = format[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next == 's' && !filled) {
                out += argument;
                filled = true;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace quorvel
