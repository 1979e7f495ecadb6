#include "engine/cache_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/date_time.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace quorvel::cache_file {

namespace {

class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}
    std::size_t Left() const { return m_bytes.size() - m_pos; }
    bool U8(std::uint8_t& v) {
        if (Left() < 1) {
            return false;
        }
        v = static_cast<std::uint8_t>(m_bytes[m_pos++]);
        return true;
    }
    bool U32(std::uint32_t& v) {
        if (Left() < 4) {
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(m_bytes.data() + m_pos);
        v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        m_pos += 4;
        return true;
    }
    bool U64(std::uint64_t& v) {
        std::uint32_t lo = 0, hi = 0;
        if (Left() < 8) {
            return false;
        }
        U32(lo);
        U32(hi);
        v = static_cast<std::uint64_t>(hi) << 32 | lo;
        return true;
    }
    bool Bytes(std::size_t n, std::string_view& out) {
        if (Left() < n) {
            return false;
        }
        out = m_bytes.substr(m_pos, n);
        m_pos += n;
        return true;
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

}  // namespace

std::optional<Contents> Parse(std::string_view bytes) {
    Reader r(bytes);
    std::uint32_t rawCount = 0;
    if (!r.U32(rawCount)) {
        return std::nullopt;
    }
    const auto count = std::max<std::int32_t>(0, static_cast<std::int32_t>(rawCount));
    // More records than the bytes can hold is damage.
    if (static_cast<std::size_t>(count) > r.Left() / kRecordSize) {
        return std::nullopt;
    }
    Contents contents;
    contents.snapshot.Reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint32_t key = 0;
        std::uint64_t timeBits = 0, size = 0;
        std::uint8_t flag = 0;
        if (!r.U32(key) || !r.U64(timeBits) || !r.U64(size) || !r.U8(flag)) {
            return std::nullopt;
        }
        const double time = std::bit_cast<double>(timeBits);
        if (flag != 1) {
            contents.snapshot.Append(key, time, static_cast<std::int64_t>(size));
            contents.recordWithoutName = true;
            continue;
        }
        std::uint32_t rawLength = 0;
        if (!r.U32(rawLength)) {
            return std::nullopt;
        }
        const auto length = static_cast<std::int32_t>(rawLength);
        if (length > kMaxNameLength) {
            return std::nullopt;
        }
        if (length < 1) {
            contents.snapshot.Append(key, time, static_cast<std::int64_t>(size));
            contents.recordWithoutName = true;
            continue;
        }
        std::string_view name;
        if (!r.Bytes(static_cast<std::size_t>(length) + 1, name) || name.back() != '\0') {
            return std::nullopt;
        }
        name.remove_suffix(1);
        if (name.find('\0') != std::string_view::npos) {
            return std::nullopt;
        }
        contents.snapshot.Append(key, time, static_cast<std::int64_t>(size), name);
    }
    return contents;
}

std::string Serialize(const Snapshot& snapshot) {
    std::string out;
    out.reserve(4 + snapshot.Size() * kRecordSize);
    SerializeTo(snapshot, [&](std::string_view chunk) {
        out.append(chunk);
        return true;
    });
    return out;
}

std::string PathFor(const std::string& directory, const std::string& id) {
    std::string path = directory;
    if (!path.empty() && path.back() != platform::kPathSeparator) {
        path += platform::kPathSeparator;
    }
    return path + id + ".DAT";
}

std::optional<Contents> Read(const std::string& path, std::string* error) {
    // Only a regular file, read without blocking and no further than its
    // size: a FIFO or a link to a device put in its place is no cache.
    std::string why;
    auto bytes = platform::ReadWholeFile(path, static_cast<std::size_t>(-1), &why);
    if (!bytes) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    }
    auto contents = Parse(*bytes);
    if (!contents && error != nullptr) {
        *error = "The cache file \"" + path + "\" is damaged";
    }
    return contents;
}

bool Write(const std::string& directory, const std::string& id, const Snapshot& snapshot,
           std::string* error) {
    if (!directory.empty()) {
        // Failure is not fatal: the directory may exist already.
        platform::CreateDirectories(directory, 0700);
    }
    platform::AtomicFile file;
    if (file.Open(PathFor(directory, id), 0600) &&
        SerializeTo(snapshot, [&](std::string_view chunk) { return file.Write(chunk); }) &&
        file.Commit()) {
        return true;
    }
    if (error != nullptr) {
        *error = file.Error();
    }
    return false;
}

std::string NewId() {
    std::uint32_t reg = 0xFFFFFFFFu;
    const double now = DateTime::Now().Days();
    unsigned char timeBytes[8];
    const auto bits = std::bit_cast<std::uint64_t>(now);
    for (int i = 0; i < 8; ++i) {
        timeBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
    reg = Crc32Step(reg, timeBytes, sizeof(timeBytes));
    // Items made in the same instant still get different identifiers.
    static thread_local std::mt19937 rng{std::random_device{}()};
    const std::uint32_t noise = rng();
    unsigned char noiseBytes[4] = {
        static_cast<unsigned char>(noise), static_cast<unsigned char>(noise >> 8),
        static_cast<unsigned char>(noise >> 16), static_cast<unsigned char>(noise >> 24)};
    reg = Crc32Step(reg, noiseBytes, sizeof(noiseBytes));
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", static_cast<unsigned>(reg));
    return text;
}

}  // namespace quorvel::cache_file
