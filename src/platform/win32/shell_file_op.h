#pragma once

#include <string>
#include <vector>

#include "platform/win32/win32_util.h"

namespace quorvel::platform::win32 {

/// Runs one SHFileOperationW (FO_COPY, FO_MOVE, FO_RENAME, FO_DELETE) over
/// full paths, silently and without dialogs of its own (the caller asks
/// and reports). False with a sentence in error when it failed or was
/// aborted.
bool ShellFileOperation(unsigned function, const std::vector<std::string>& from,
                        const std::string& to, unsigned extraFlags, std::string* error);

/// The full path of a path (relative ones taken from the current
/// directory), with "\" separators.
std::string FullPath(const std::string& path);

}  // namespace quorvel::platform::win32
