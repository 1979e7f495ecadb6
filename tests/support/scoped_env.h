#pragma once

#include <optional>
#include <string>

#include "platform/paths.h"

namespace quorvel::test {

/// Sets (or, with a null value, removes) an environment variable for the
/// lifetime of the object, then puts the previous value or its absence back.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const char* value)
        : m_name(std::move(name)), m_old(platform::GetEnvironment(m_name)) {
        platform::SetEnvironment(
            m_name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ScopedEnv(std::string name, const std::string& value)
        : ScopedEnv(std::move(name), value.c_str()) {}
    ~ScopedEnv() { platform::SetEnvironment(m_name, m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace quorvel::test
