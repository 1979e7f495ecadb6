#include "engine/cache_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "core/date_time.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace quorvel::cache_file {

namespace {

std::uint32_t Load32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::uint64_t Load64(const char* p) {
    return static_cast<std::uint64_t>(Load32(p + 4)) << 32 | Load32(p);
}

// The bytes of a cache given whole.
class WholeBytes {
public:
    explicit WholeBytes(std::string_view bytes)
        : m_p(bytes.data()), m_end(bytes.data() + bytes.size()) {}
    const char* Data() const { return m_p; }
    std::size_t Available() const { return static_cast<std::size_t>(m_end - m_p); }
    bool Need(std::size_t n) { return Available() >= n; }
    void Skip(std::size_t n) { m_p += n; }

private:
    const char* m_p;
    const char* m_end;
};

// The bytes of a cache file, read piece by piece into a buffer that stays in
// the processor's cache, so the file is copied once, from the page cache
// into the snapshot.
class FileBytes {
public:
    static constexpr std::size_t kBuffer = 256 * 1024;
    static_assert(kBuffer >= 26 + kMaxNameLength);

    explicit FileBytes(platform::InputFile& file)
        : m_file(file),
          m_buffer(std::make_unique_for_overwrite<char[]>(kBuffer)),
          m_p(m_buffer.get()),
          m_end(m_buffer.get()) {}
    const char* Data() const { return m_p; }
    std::size_t Available() const { return static_cast<std::size_t>(m_end - m_p); }
    /// True when n bytes are at hand; false when the file ends first or
    /// cannot be read (Error then tells why).
    bool Need(std::size_t n) {
        if (Available() >= n) {
            return true;
        }
        const std::size_t kept = Available();
        std::memmove(m_buffer.get(), m_p, kept);
        m_p = m_buffer.get();
        m_end = m_p + kept;
        while (Available() < n) {
            const auto room = static_cast<std::size_t>(m_buffer.get() + kBuffer - m_end);
            const auto got = m_file.Read(m_end, room, &m_error);
            if (!got || *got == 0) {
                return false;
            }
            m_end += *got;
        }
        return true;
    }
    void Skip(std::size_t n) { m_p += n; }
    const std::string& Error() const { return m_error; }

private:
    platform::InputFile& m_file;
    std::unique_ptr<char[]> m_buffer;
    char* m_p;
    char* m_end;
    std::string m_error;
};

// total is the length of the bytes when known: it only spares reading a
// count that cannot fit and sizes the snapshot ahead.
template <typename Bytes>
std::optional<Contents> ParseFrom(Bytes& in, std::optional<std::uint64_t> total) {
    if (!in.Need(4)) {
        return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(
        std::max<std::int32_t>(0, static_cast<std::int32_t>(Load32(in.Data()))));
    in.Skip(4);
    // More records than the bytes can hold is damage.
    if (total && count > (*total - 4) / kRecordSize) {
        return std::nullopt;
    }
    Contents contents;
    Snapshot& snapshot = contents.snapshot;
    if (total) {
        snapshot.Reserve(count);
    }
    std::size_t left = count;
    while (left > 0) {
        // The records without a name that lie whole at hand, in one sweep.
        const char* const at = in.Data();
        const std::size_t fit = std::min(left, in.Available() / kRecordSize);
        std::size_t run = 0;
        while (run < fit && at[run * kRecordSize + 20] != 1) {
            ++run;
        }
        if (run > 0) {
            snapshot.AppendUnnamed(
                run, [at](std::size_t i) { return Load32(at + i * kRecordSize); },
                [at](std::size_t i) {
                    return std::bit_cast<double>(Load64(at + i * kRecordSize + 4));
                },
                [at](std::size_t i) {
                    return static_cast<std::int64_t>(Load64(at + i * kRecordSize + 12));
                });
            contents.recordWithoutName = true;
            in.Skip(run * kRecordSize);
            left -= run;
            continue;
        }
        // A record with a name, or one cut by the end of what is at hand.
        if (!in.Need(kRecordSize)) {
            return std::nullopt;
        }
        const char* p = in.Data();
        const std::uint32_t key = Load32(p);
        const double time = std::bit_cast<double>(Load64(p + 4));
        const auto size = static_cast<std::int64_t>(Load64(p + 12));
        --left;
        if (p[20] != 1) {
            snapshot.Append(key, time, size);
            contents.recordWithoutName = true;
            in.Skip(kRecordSize);
            continue;
        }
        if (!in.Need(kRecordSize + 4)) {
            return std::nullopt;
        }
        const auto length = static_cast<std::int32_t>(Load32(in.Data() + kRecordSize));
        if (length > kMaxNameLength) {
            return std::nullopt;
        }
        if (length < 1) {
            snapshot.Append(key, time, size);
            contents.recordWithoutName = true;
            in.Skip(kRecordSize + 4);
            continue;
        }
        const std::size_t whole = kRecordSize + 4 + static_cast<std::size_t>(length) + 1;
        if (!in.Need(whole)) {
            return std::nullopt;
        }
        const std::string_view name(in.Data() + kRecordSize + 4, static_cast<std::size_t>(length));
        if (in.Data()[whole - 1] != '\0' || name.find('\0') != std::string_view::npos) {
            return std::nullopt;
        }
        snapshot.Append(key, time, size, name);
        in.Skip(whole);
    }
    return contents;
}

}  // namespace

std::optional<Contents> Parse(std::string_view bytes) {
    WholeBytes in(bytes);
    return ParseFrom(in, bytes.size());
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
    auto file = platform::InputFile::Open(path, &why);
    if (!file) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    }
    FileBytes in(*file);
    // A file that reports no size is read to its end.
    auto contents = ParseFrom(in, file->Size() > 0 ? std::optional(file->Size()) : std::nullopt);
    if (!contents && error != nullptr) {
        *error = in.Error().empty() ? "The cache file \"" + path + "\" is damaged" : in.Error();
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
