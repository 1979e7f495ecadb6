// The console program: monitors one configuration until X is pressed, and
// installs, removes, starts and stops its own service form.

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "actions/date_format.h"
#include "console/command_line.h"
#include "console/configuration_commands.h"
#include "console/console_log.h"
#include "console/console_message_box.h"
#include "console/runner.h"
#include "console/service_commands.h"
#include "engine/base_monitoring.h"
#include "platform/console.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "platform/system_log.h"
#include "settings/adv_string_list.h"
#include "settings/lang.h"
#include "settings/options.h"

namespace {

using namespace quorvel;

// Stopped workers get this long to leave their bodies before the process
// ends; one busy in a long action is not waited for beyond it.
constexpr std::chrono::seconds kWorkerDeadline{5};

void PrintEntry(int index) {
    Print(Strings().OemText(index) + "\n");
}

int Report(bool ok, int success, int failure) {
    PrintEntry(ok ? success : failure);
    return ok ? 0 : 1;
}

int RunCommand(const CommandLine& command) {
    switch (command.kind) {
        case CommandKind::Service:
            return RunService(command.config);
        case CommandKind::Start:
            return Report(StartService(command.host, command.config), lngStartSvc,
                          lngStartSvcError);
        case CommandKind::Stop:
            return Report(StopService(command.host), lngStopSvc, lngStopSvcError);
        case CommandKind::Install:
            return Report(InstallService(platform::ExecutablePath()), lngInstallSvcFinish,
                          lngInstallSvcError);
        case CommandKind::Remove:
            return Report(RemoveService(), lngRemoveSvcFinish, lngRemoveSvcError);
        case CommandKind::Usage:
            Print(UsageText(ProgramFileName(platform::ExecutablePath())));
            return 0;
        case CommandKind::Check:
            return RunCheck(command.serviceFile
                                ? std::optional(ServiceConfigurationFile(std::nullopt))
                                : command.config);
        case CommandKind::Once:
            return RunOnce(command.config, !command.force);
        case CommandKind::Describe:
            return RunDescribe(command.config);
        case CommandKind::Version:
        case CommandKind::Run:
            break;
    }
    return RunConsole(command.config);
}

int Main(const std::vector<std::string>& arguments) {
    const CommandLine command = ParseCommandLine(arguments);
    if (command.kind == CommandKind::Version) {
        Print(BannerLine() + "\n");
        return 0;
    }

    // Dates and times in texts use fixed formats; only names come from the
    // user's locale. Read once here, before any worker thread starts.
    std::setlocale(LC_TIME, "");
    (void)DateFormatSettings::System();

    // The service manager reads nothing from us; a dispatcher started from a
    // console fails silently, so the service body prints nothing at all.
    // The reports of /check, /once and /describe are read by scripts and
    // people alike, and begin with what they report.
    const bool service = command.kind == CommandKind::Service;
    const bool report = command.kind == CommandKind::Check ||
                        command.kind == CommandKind::Once ||
                        command.kind == CommandKind::Describe;
    if (!service && !report) {
        Print(BannerLine() + "\n\n");
    }

    Options& options = Options::Instance();
    if (service && platform::IsPrivileged()) {
        // A system service keeps its snapshots in the system's cache unless
        // the options name another directory.
        options.SetCacheDirectory(platform::DefaultCacheDirectory(true));
    }
    options.LoadAll();
    auto lang = std::make_unique<Lang>(options.Language(), std::string());
    lang->TranslateStrings(Strings(), "Strings");

    // Messages of popup actions appear on the console (the service body's
    // standard output goes to the journal), and so does the activity log.
    platform::SetMessageBox(std::make_shared<ConsoleMessageBox>());
    platform::SetFileOpUi(std::make_shared<LoggedFileOpUi>());
    // The service's records go to the system's log with their fields; the
    // console's to standard error, a line each.
    std::shared_ptr<LogSink> sink;
    if (service) {
        if (auto system = platform::SystemLog::Open(platform::SystemServiceName(kServiceName))) {
            sink = std::make_shared<SystemLogSink>(std::move(system));
        }
    }
    if (!sink) {
        sink = std::make_shared<ConsoleLog>(platform::kStandardErrorFd, command.quiet);
    }
    ActivityLog::Attachment log(std::move(sink));
    int exitCode = RunCommand(command);

    // The run has stopped its items and waited for their workers (the list
    // names any it had to leave running). One stuck in an action must not
    // see the process's objects destroyed under it: only then does the
    // program end without running their destructors.
    const bool workersEnded = BaseMonitoring::WaitForWorkers(kWorkerDeadline);
    lang.reset();
    if (!workersEnded) {
        platform::ExitWithoutCleanup(exitCode);
    }
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so every thread inherits the mask and the
    // signal thread alone receives these signals.
    quorvel::platform::BlockProcessSignals();
    try {
        return Main(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        quorvel::platform::WriteWhole(quorvel::platform::kStandardErrorFd,
                                      std::string("quorvinsvc: ") + e.what() + "\n");
    } catch (...) {
        quorvel::platform::WriteWhole(quorvel::platform::kStandardErrorFd,
                                      "quorvinsvc: unexpected error\n");
    }
    return 1;
}
