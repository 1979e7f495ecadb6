#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/date_time.h"

namespace quorvel {

/// What happened to a file, as the checks report it.
enum class FileKind : std::uint8_t { None = 0, Added = 1, Changed = 2, Deleted = 3, Old = 4 };

/// One file that a check hands to the actions and their macros.
struct FileData {
    DateTime runTime;                 ///< start of the action chain; 0 until expansion
    DateTime time{-1.0};              ///< last-write time, local
    std::int64_t size = 0;            ///< bytes
    std::optional<std::string> name;  ///< full path, or none
    FileKind kind = FileKind::None;

    FileData() = default;
    FileData(std::optional<std::string> fileName, DateTime writeTime, std::int64_t fileSize,
             FileKind fileKind)
        : time(writeTime), size(fileSize), name(std::move(fileName)), kind(fileKind) {}

    /// The record used when no file is at hand: no name, time -1, size 0, kind 0.
    static FileData Placeholder() {
        return FileData(std::nullopt, DateTime(-1.0), 0, FileKind::None);
    }
};

using FileList = std::vector<FileData>;

}  // namespace quorvel
