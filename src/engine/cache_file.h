#pragma once

#include <cstdint>
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
    /// True when the cache holds records and none of them carries a name:
    /// it was written while the item kept no names.
    bool writtenWithoutNames = false;
};

/// Reads cache bytes. Nothing when they are not exactly a valid cache:
/// cut short, a negative count or one the bytes cannot hold, a flag other
/// than 0 or 1, a name length outside 1 to 4095, a name without its zero
/// byte or with one inside, or bytes left over after the last record.
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

/// Reads the cache file; nothing when it is missing, unreadable or invalid.
std::optional<Contents> Read(const std::string& path);

/// Writes the snapshot so that a crash, a full disk or a kill leaves the
/// previous file whole: a temporary file readable by the user alone (0600)
/// renamed over the old one. The directory is created (0700) when missing.
/// False when nothing was written.
bool Write(const std::string& directory, const std::string& id, const Snapshot& snapshot);

/// A new identifier: eight upper-case hexadecimal digits.
std::string NewId();

}  // namespace cache_file

// ---- template implementation ----

namespace cache_file::detail {

class ChunkWriter {
public:
    static constexpr std::size_t kChunk = 64 * 1024;
    ChunkWriter() { m_buffer.reserve(kChunk + kMaxNameLength + 64); }
    void U8(std::uint8_t v) { m_buffer.push_back(static_cast<char>(v)); }
    void U32(std::uint32_t v) {
        char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
        m_buffer.append(b, 4);
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void F64(double v);
    void Bytes(std::string_view v) { m_buffer.append(v); }
    bool Full() const { return m_buffer.size() >= kChunk; }
    std::string& Buffer() { return m_buffer; }

private:
    std::string m_buffer;
};

}  // namespace cache_file::detail

template <typename Sink>
bool cache_file::SerializeTo(const Snapshot& snapshot, Sink&& sink) {
    detail::ChunkWriter w;
    const std::size_t n = snapshot.Size();
    w.U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(n)));
    for (std::size_t i = 0; i < n; ++i) {
        w.U32(snapshot.KeyAt(i));
        w.F64(snapshot.TimeAt(i));
        w.U64(static_cast<std::uint64_t>(snapshot.SizeAt(i)));
        const std::string* name = snapshot.NameAt(i);
        // A name the reader could not take back is left out, so one long path
        // never makes the whole cache unreadable.
        if (name != nullptr && !name->empty() && name->size() <= kMaxNameLength &&
            name->find('\0') == std::string::npos) {
            w.U8(1);
            w.U32(static_cast<std::uint32_t>(name->size()));
            w.Bytes(*name);
            w.U8(0);
        } else {
            w.U8(0);
        }
        if (w.Full()) {
            if (!sink(std::string_view(w.Buffer()))) {
                return false;
            }
            w.Buffer().clear();
        }
    }
    return w.Buffer().empty() || sink(std::string_view(w.Buffer()));
}

}  // namespace quorvel
