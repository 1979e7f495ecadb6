#pragma once

#include <cstdint>

namespace quorvel {

/// What a list entry is; the value is the configuration file's
/// "IsDirectory" number.
enum class ItemKind : std::uint8_t { File = 0, Directory = 1, Separator = 2 };

}  // namespace quorvel
