#pragma once

#include <cstdint>

namespace quorvel {

/// State of a monitored item; the value is also the index of its picture.
enum class ItemState : std::uint8_t {
    Unknown = 0,
    Ok = 1,
    Triggered = 2,
    NotFound = 3,
    Paused = 4,
    Waiting = 5,
    Acting = 6,
    Separator = 7,
};

}  // namespace quorvel
