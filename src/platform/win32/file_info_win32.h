#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform::win32 {

/// What an open handle says about its file (links followed by the open).
FileInfo InfoFromHandle(HANDLE file);
/// What a directory listing says about one entry (links not followed).
FileInfo InfoFromFindData(const WIN32_FIND_DATAW& data);
/// Opens a file or directory only to query it; invalid when it is missing.
UniqueHandle OpenForQuery(const std::string& path);

}  // namespace quorvel::platform::win32
