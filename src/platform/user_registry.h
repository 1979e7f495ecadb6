#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

namespace quorvel::platform {

/// A value of the registry: a 32-bit integer or a string.
using RegistryData = std::variant<std::int32_t, std::string>;

/// True where the system keeps a registry of its own (Windows); elsewhere
/// the programs keep the same keys in a file.
bool HasUserRegistry();

/// Reads the key root of the current user's registry (HKEY_CURRENT_USER;
/// "Software\Feldrane\Quorvel") with every sub-key below it, calling visit
/// with each value's key path (root included, "\" separated), its name and
/// its data. Integer values are DWORDs; strings are REG_SZ or
/// REG_EXPAND_SZ (unexpanded); other types are skipped. False when the key
/// does not exist or the system has no registry.
bool ReadUserRegistry(std::string_view root,
                      const std::function<void(const std::string& key, const std::string& name,
                                               const RegistryData& data)>& visit);

}  // namespace quorvel::platform
