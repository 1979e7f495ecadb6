#pragma once

#include <string>

namespace quorvel {

/// The string table entry with the given number in the language in force
/// now. Action captions and labels come from here.
std::string ActionText(int index);

}  // namespace quorvel
