#pragma once

// The pieces of a strftime pattern, shared by the locale readers.

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform {

/// One conversion ("%-d") or one run of literal text of a strftime pattern.
struct StrftimePiece {
    std::string text;
    char conversion = 0;  ///< 0 for literal text
};

/// The pattern cut into conversions and literal runs; a lone "%" at the end
/// converts nothing.
std::vector<StrftimePiece> SplitStrftimePattern(std::string_view pattern);

}  // namespace quorvel::platform
