#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/change_notifier.h"

namespace quorvel::platform {

/// What a notifier gathers between two TakeChanges; the notifier guards it
/// with its own lock.
struct ChangeCollector {
    std::unordered_map<std::string, std::unordered_set<std::string>> dirtyDirectories;
    std::unordered_set<std::string> newSubtrees;
    bool incomplete = false;

    /// Hands over what was gathered and starts afresh.
    ChangeSet TakeCollected(bool rootGone) {
        ChangeSet set;
        for (auto& [directory, names] : dirtyDirectories) {
            set.directories.push_back(directory);
            set.names.emplace(directory, std::move(names));
        }
        set.newSubtrees.assign(newSubtrees.begin(), newSubtrees.end());
        set.incomplete = incomplete;
        set.rootGone = rootGone;
        dirtyDirectories.clear();
        newSubtrees.clear();
        incomplete = false;
        return set;
    }
};

}  // namespace quorvel::platform
