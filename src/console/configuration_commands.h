#pragma once

#include <optional>
#include <string>

namespace quorvel {

/// "/check": reads the configuration (the default one when there is none)
/// as the programs do, starts nothing and prints one line per problem,
/// "FILE:LINE: item N (NAME): SEVERITY: WHAT", then a summary. Answers 1
/// when the file cannot be read or a problem is an error, else 0.
int RunCheck(const std::optional<std::string>& config);

/// "/once": checks every item that is not paused once, in list order, and
/// runs the actions of those whose condition holds; directory items read
/// and write their caches. With honourSchedule, items outside their
/// schedule are not checked. Answers 1 when the file cannot be read or
/// anything failed (a check, an action, a cache), else 2 when an item acted,
/// else 0. SIGINT, SIGTERM and SIGHUP stop the run after the running step.
int RunOnce(const std::optional<std::string>& config, bool honourSchedule);

/// "/describe": prints each entry of the configuration as a person reads
/// it. Answers 1 when the file cannot be read, else 0.
int RunDescribe(const std::optional<std::string>& config);

}  // namespace quorvel
