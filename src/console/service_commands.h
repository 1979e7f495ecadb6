#pragma once

#include <optional>
#include <string>

#include "platform/service_manager.h"

namespace quorvel {

/// The name of the installed service (its unit is named in lower case).
inline constexpr const char* kServiceName = "QuorvinSvc";
/// The service-specific code of a service that stops because its
/// configuration could not be loaded.
inline constexpr int kLoadFailureExitStatus = 3000;
/// The service's description, shown by the service manager.
inline constexpr const char* kServiceDescription = "Quorvel";
/// The service manager's environment variable that carries the
/// configuration given to "/start" to the service.
inline constexpr const char* kConfigVariable = "QUORVEL_CONFIG";

/// The unit that runs programPath with "/service".
platform::ServiceUnit ServiceUnitFor(const std::string& programPath);

/// The service commands of the command line. Each answers whether the
/// service manager accepted it; the manager is the system one as root, the
/// user's own otherwise.
bool InstallService(const std::string& programPath);
bool RemoveService();
/// Starts the service on host (empty: this computer). The configuration is
/// passed exactly as typed; without one the service uses its default.
bool StartService(const std::string& host, const std::optional<std::string>& config);
bool StopService(const std::string& host);

}  // namespace quorvel
