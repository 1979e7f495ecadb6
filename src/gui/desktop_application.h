#pragma once

#include <string>
#include <utility>

#include "core/version.h"
#include "platform/desktop_entry.h"

namespace quorvel::gui {

/// What the desktop entry and the ".mon" file type say about quorvin: the
/// same words for the entry the options dialog writes into the user's home
/// and for the one installed with the program.
inline platform::ApplicationInfo DesktopApplication(std::string programPath) {
    return {std::move(programPath), kProductName,
            "Watches files and directories and acts when they change", "Quorvel Document"};
}

}  // namespace quorvel::gui
