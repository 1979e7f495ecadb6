#include "platform/user_registry.h"

namespace quorvel::platform {

bool HasUserRegistry() {
    return false;
}

bool ReadUserRegistry(
    std::string_view,
    const std::function<void(const std::string&, const std::string&, const RegistryData&)>&) {
    return false;
}

}  // namespace quorvel::platform
