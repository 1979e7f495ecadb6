#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::test {

/// Runs a program found in PATH with the arguments (no shell); its exit code,
/// or nothing when the program is not installed or did not end.
std::optional<int> RunTool(const std::vector<std::string>& argv, const std::string& directory = {});

/// Runs a program found in PATH like RunTool and answers what it printed on
/// standard output, or nothing when it is not installed or did not end.
std::optional<std::string> ToolOutput(const std::vector<std::string>& argv);

/// True when the tool is installed.
bool HaveTool(const std::string& name);

/// Runs the current test again in a child process as the unprivileged user
/// "nobody" (permissions refuse nothing to root). Answers true when the
/// caller is that child and must run the test body itself; otherwise reports
/// the child's outcome as this test's outcome (skipping when the switch of
/// user is not possible) and answers false.
bool RunUnprivileged();

}  // namespace quorvel::test
