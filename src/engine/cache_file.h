#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "engine/snapshot.h"

namespace quorvel {

/// A directory item's snapshot on disk, so that the first check after a
/// restart reports what changed while the program was not running.
///
/// Layout, little-endian, no header, no padding: a signed 32-bit record
/// count, then per record the key (u32), the time (IEEE double, days), the
/// size (i64) and a name flag byte; when the flag is 1, a signed 32-bit name
/// length L (1 to 4095) and the L bytes of the name followed by one zero
/// byte. A record takes 21 bytes without a name, 26 + L with one.
namespace cache_file {

/// The longest name a record may carry; longer names are written without.
constexpr std::int32_t kMaxNameLength = 4095;
constexpr std::size_t kRecordSize = 21;

/// What a valid cache holds.
struct Contents {
    Snapshot snapshot;
    /// True when some record carries no name (it was written while the item
    /// kept no names, or its name was too long to keep): deleted files could
    /// not all be named.
    bool recordWithoutName = false;
};

/// Reads cache bytes. A count of 0 or less is an empty snapshot; a record
/// whose flag is not 1, or whose name length is 0 or less, has no name;
/// bytes after the last record are not read. Nothing when the bytes are
/// damaged: cut short of the records the count announces, a name longer
/// than 4095 bytes, or a name without its zero byte or with one inside.
std::optional<Contents> Parse(std::string_view bytes);

/// The bytes of a cache holding the snapshot.
std::string Serialize(const Snapshot& snapshot);

/// Calls sink(chunk) with the cache bytes in pieces of about 64 KiB; stops
/// when sink answers false. Answers whether every piece was taken.
template <typename Sink>
bool SerializeTo(const Snapshot& snapshot, Sink&& sink);

/// The file of an item: directory (with a separator appended unless empty
/// or already there), identifier, ".DAT".
std::string PathFor(const std::string& directory, const std::string& id);

/// Reads the cache file; nothing when it is missing, unreadable, not a
/// regular file or invalid. error, when given, then tells why (it stays
/// empty for a file that does not exist).
std::optional<Contents> Read(const std::string& path, std::string* error = nullptr);

/// Writes the snapshot so that a crash, a full disk or a kill leaves the
/// previous file whole: a temporary file readable by the user alone (0600)
/// renamed over the old one. The directory is created (0700) when missing.
/// False when nothing was written, with the reason in error when given.
bool Write(const std::string& directory, const std::string& id, const Snapshot& snapshot,
           std::string* error = nullptr);

/// A new identifier: eight upper-case hexadecimal digits.
std::string NewId();

}  // namespace cache_file

// ---- template implementation ----

namespace cache_file::detail {

// Little-endian stores into a byte buffer; compilers turn them into plain
// moves on little-endian machines.
inline char* Store32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<char>(v >> (8 * i));
    }
    return p + 4;
}
inline char* Store64(char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<char>(v >> (8 * i));
    }
    return p + 8;
}
inline std::uint64_t DoubleBits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

}  // namespace cache_file::detail

template <typename Sink>
bool cache_file::SerializeTo(const Snapshot& snapshot, Sink&& sink) {
    constexpr std::size_t kChunk = 64 * 1024;
    constexpr std::size_t kLargestRecord = 26 + kMaxNameLength;
    std::string buffer(kChunk + kLargestRecord, '\0');
    char* const begin = buffer.data();
    char* p = begin;
    const std::size_t n = snapshot.Size();
    p = detail::Store32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(n)));
    const bool names = snapshot.HasNames();
    for (std::size_t i = 0; i < n;) {
        // Records without a name fill the chunk in one sweep.
        const std::size_t room = (kChunk - static_cast<std::size_t>(p - begin)) / kRecordSize + 1;
        const std::size_t end = i + std::min(n - i, room);
        for (; i < end; ++i) {
            p = detail::Store32(p, snapshot.KeyAt(i));
            p = detail::Store64(p, detail::DoubleBits(snapshot.TimeAt(i)));
            p = detail::Store64(p, static_cast<std::uint64_t>(snapshot.SizeAt(i)));
            const std::string* name = names ? snapshot.NameAt(i) : nullptr;
            // A name the reader could not take back is left out, so one long
            // path never makes the whole cache unreadable.
            if (name != nullptr && !name->empty() && name->size() <= kMaxNameLength &&
                name->find('\0') == std::string::npos) {
                *p++ = 1;
                p = detail::Store32(p, static_cast<std::uint32_t>(name->size()));
                std::memcpy(p, name->data(), name->size());
                p += name->size();
                *p++ = 0;
                ++i;
                break;
            }
            *p++ = 0;
        }
        if (static_cast<std::size_t>(p - begin) >= kChunk) {
            if (!sink(std::string_view(begin, static_cast<std::size_t>(p - begin)))) {
                return false;
            }
            p = begin;
        }
    }
    return p == begin || sink(std::string_view(begin, static_cast<std::size_t>(p - begin)));
}

}  // namespace quorvel
