#pragma once

#include <string>

namespace quorvel::platform {

/// Moves one path into the freedesktop.org trash of its volume: the home
/// trash ($XDG_DATA_HOME/Trash) when the path lies on the same file system,
/// else the volume's $topdir/.Trash/$UID or $topdir/.Trash-$UID. Writes the
/// matching info/NAME.trashinfo. True when the path was moved.
bool MoveToTrash(const std::string& path, std::string* error = nullptr);

}  // namespace quorvel::platform
