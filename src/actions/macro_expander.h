#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/date_time.h"
#include "core/file_data.h"

namespace quorvel {

/// Expands every macro of text against one record. Pure and thread-safe.
std::string ExpandRecord(const FileData& record, std::string_view text);

struct ExpandListResult {
    std::string text;
    int used = 1;  ///< records the range covered, or 1 when it covered none
    /// When asked for: per byte of text, true when a macro produced it and
    /// false when it is the template's own text.
    std::vector<bool> fromMacro;
};

/// Expands text against the records first ... first + used - 1 of files; a
/// repeating section "%(" ... "%)" is expanded once per record. count <= 0
/// means up to the end of the list. An empty list expands against the
/// placeholder record. Pure and thread-safe.
ExpandListResult ExpandList(const FileList& files, DateTime runStart, std::string_view text,
                            int first, int count, bool markMacros = false);

/// The name of the placeholder record, "[D:]" sep "[P]" sep "[N].[E]", that
/// an empty list expands against (ExpandList uses the platform's separator).
std::string PlaceholderName(char separator);

}  // namespace quorvel
