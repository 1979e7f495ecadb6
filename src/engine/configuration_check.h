#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

enum class ProblemSeverity { Warning, Error };

/// One thing wrong with a configuration, found without starting anything.
struct ConfigurationProblem {
    int line = 0;          ///< the line concerned, from 1
    int item = 0;          ///< the entry's number in the list, from 1; 0: the file as a whole
    std::string itemName;  ///< the item's "FileName" as configured
    ProblemSeverity severity = ProblemSeverity::Warning;
    std::string message;  ///< in the language in force; names unescaped
};

/// Reads a configuration text the way the loader does and reports, in line
/// order per item: keys nobody takes, values that do not read or lie out of
/// range (with the value used instead), paths that do not exist or cannot
/// be read, masks that cannot match, programs that cannot be started, list
/// files and destinations that cannot be written, unusable caches, trees
/// beyond the system's watch limit and sounds that cannot be played.
/// Errors are what keeps an item or an action from working; warnings are
/// what the programs read otherwise than written or may find later.
/// defaultCacheDirectory is the program's option, as for MonitorProcess.
std::vector<ConfigurationProblem> CheckConfiguration(std::string_view text,
                                                     const std::string& defaultCacheDirectory);

}  // namespace quorvel
