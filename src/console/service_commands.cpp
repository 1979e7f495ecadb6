#include "console/service_commands.h"

#include "platform/paths.h"

namespace quorvel {

namespace {

platform::ServiceManager Manager(const std::string& host = {}) {
    return platform::ServiceManager(!platform::IsPrivileged(), host);
}

}  // namespace

platform::ServiceUnit ServiceUnitFor(const std::string& programPath) {
    // A configuration with errors stops the start with its reasons in the
    // journal.
    return {platform::SystemServiceName(kServiceName),
            kServiceDescription,
            {programPath, "/service"},
            {programPath, "/check", "/service"}};
}

bool InstallService(const std::string& programPath) {
    if (programPath.empty()) {
        return false;
    }
    return Manager().Install(ServiceUnitFor(programPath));
}

bool RemoveService() {
    return Manager().Remove(platform::SystemServiceName(kServiceName), {kConfigVariable});
}

bool StartService(const std::string& host, const std::optional<std::string>& config) {
    // The variable is always written, so a start without a configuration
    // does not pick up the one of an earlier start.
    return Manager(host).Start(platform::SystemServiceName(kServiceName),
                               {{kConfigVariable, config}});
}

bool StopService(const std::string& host) {
    return Manager(host).Stop(platform::SystemServiceName(kServiceName));
}

}  // namespace quorvel
