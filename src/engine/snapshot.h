#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

/// Feeds bytes into a CRC-32 register (reflected polynomial 0xEDB88320)
/// without the final XOR.
std::uint32_t Crc32Step(std::uint32_t reg, const void* data, std::size_t size);

/// The key of a path: the standard CRC-32 of its bytes.
std::uint32_t PathKey(std::string_view path);

/// One entry of a directory snapshot, as handed in and out of a Snapshot.
struct File {
    std::uint32_t key = 0;
    double time = 0.0;  ///< last-write time (local date-time); 0 = seen in use
    std::int64_t size = 0;
    std::optional<std::string> name;  ///< full path, when kept

    bool operator==(const File&) const = default;
};

/// One directory a walk entered. Its entries, and those of the directories
/// below it, are the snapshot's entries [begin, end): a walk lists a
/// directory's subtree before the directory's own entry, so every subtree is
/// one run of entries. When ownEntry is set the directory's own entry follows
/// at end (in its parent's run).
struct DirRecord {
    std::string name;  ///< "" for the walked directory itself
    std::int32_t parent = -1;
    std::int32_t firstChild = -1;
    std::int32_t lastChild = -1;
    std::int32_t nextSibling = -1;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    bool ownEntry = false;
};

/// The entries a directory check found, in scan order. Entries are stored
/// column by column (key, time, size: 20 bytes each); names cost memory only
/// when some entry keeps one.
///
/// A snapshot used as the previous check's state answers lookups: TakeFirst
/// removes and answers the first entry still present with a key, and what is
/// left at the end are the entries the scan did not find again, in snapshot
/// order. While entries are found in the order they were stored no index is
/// built; the first lookup that misses the front builds a hash index over
/// the entries left, so every lookup costs constant time.
class Snapshot {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    Snapshot() = default;
    Snapshot(Snapshot&&) noexcept = default;
    Snapshot& operator=(Snapshot&&) noexcept = default;
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    void Reserve(std::size_t count);
    /// Gives back room the entries do not use when it is a large share.
    void Trim();
    void Clear();

    void Append(std::uint32_t key, double time, std::int64_t size) {
        m_keys.push_back(key);
        m_times.push_back(time);
        m_sizes.push_back(size);
        if (!m_nameSlot.empty()) {
            m_nameSlot.push_back(kNoName);
        }
    }
    void Append(std::uint32_t key, double time, std::int64_t size, std::string_view name);
    /// Appends count entries without names, entry i with the key keyOf(i),
    /// the time timeOf(i) and the size sizeOf(i): one pass per column, no
    /// test per entry.
    template <typename KeyOf, typename TimeOf, typename SizeOf>
    void AppendUnnamed(std::size_t count, KeyOf&& keyOf, TimeOf&& timeOf, SizeOf&& sizeOf) {
        AppendColumn(m_keys, count, keyOf);
        AppendColumn(m_times, count, timeOf);
        AppendColumn(m_sizes, count, sizeOf);
        if (!m_nameSlot.empty()) {
            m_nameSlot.insert(m_nameSlot.end(), count, kNoName);
        }
    }
    void Append(const File& file);

    std::size_t Size() const { return m_keys.size(); }
    bool Empty() const { return m_keys.empty(); }
    std::uint32_t KeyAt(std::size_t i) const { return m_keys[i]; }
    double TimeAt(std::size_t i) const { return m_times[i]; }
    std::int64_t SizeAt(std::size_t i) const { return m_sizes[i]; }
    /// The stored name, or nullptr when the entry has none.
    const std::string* NameAt(std::size_t i) const;
    File At(std::size_t i) const;
    void SetTime(std::size_t i, double time) { m_times[i] = time; }
    void SetSize(std::size_t i, std::int64_t size) { m_sizes[i] = size; }
    /// Removes the last entry (only before lookups start).
    void PopBack();
    bool HasNames() const { return !m_nameSlot.empty(); }
    /// Appends entry i of from, taking over its name (from keeps no name for
    /// it afterwards).
    void AppendTaken(Snapshot& from, std::size_t i);
    /// The same for the entries [begin, end) of from.
    void AppendTaken(Snapshot& from, std::size_t begin, std::size_t end);

    // The directories of the walk that made the snapshot, in the order they
    // were entered; record 0, when there is one, is the walked directory.
    /// Starts the record of a directory whose entries come next.
    std::int32_t OpenDirectory(std::int32_t parent, std::string_view name);
    /// Its entries are complete.
    void CloseDirectory(std::int32_t index);
    /// The entry appended next is the directory's own.
    void MarkOwnEntry(std::int32_t index) {
        m_dirs[static_cast<std::size_t>(index)].ownEntry = true;
    }
    const std::vector<DirRecord>& Directories() const { return m_dirs; }
    const DirRecord& Directory(std::int32_t index) const {
        return m_dirs[static_cast<std::size_t>(index)];
    }
    /// The record of a child directory by name, or -1.
    std::int32_t FindChild(std::int32_t parent, std::string_view name) const;
    /// The record of a directory by its path relative to the walked one
    /// ("" for it, "a/b" below it), or -1.
    std::int32_t FindDirectory(std::string_view relativePath) const;
    /// The path of a record relative to the walked directory.
    std::string RelativePath(std::int32_t index) const;
    /// Appends the entries of record index of from and the records below it
    /// (taking over their names), as a child of parent here; answers the new
    /// record. The directory's own entry is not part of it.
    std::int32_t AppendSubtree(Snapshot& from, std::int32_t index, std::int32_t parent);
    /// Bytes the directory records hold (for measurements).
    std::size_t DirectoryBytes() const;

    // Lookups on the previous check's snapshot.
    /// Removes the first entry still present with the key and answers its
    /// position, or npos when none is left.
    std::size_t TakeFirst(std::uint32_t key);
    bool Present(std::size_t i) const;
    /// Number of entries not taken yet.
    std::size_t LeftCount() const { return m_left; }
    /// Calls f(position) for every entry not taken, in snapshot order.
    template <typename F>
    void ForEachLeft(F&& f) const {
        for (std::size_t i = m_front; i < m_keys.size(); ++i) {
            if (Present(i)) {
                f(i);
            }
        }
    }
    /// Starts answering lookups: every entry counts as present.
    void BeginLookups();
    /// Bytes held by the index while lookups run (for measurements).
    std::size_t IndexBytes() const;

private:
    static constexpr std::uint32_t kNoName = static_cast<std::uint32_t>(-1);

    void BuildIndex();

    // The values f(0), f(1), ... as an iterator, so that a column grows by a
    // whole run in one insert.
    template <typename T, typename F>
    class Generated {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = T;
        Generated(F* f, std::size_t i) : m_f(f), m_i(i) {}
        T operator*() const { return (*m_f)(m_i); }
        Generated& operator++() {
            ++m_i;
            return *this;
        }
        Generated operator++(int) {
            Generated old = *this;
            ++m_i;
            return old;
        }
        bool operator==(const Generated& o) const { return m_i == o.m_i; }

    private:
        F* m_f;
        std::size_t m_i;
    };
    template <typename T, typename F>
    static void AppendColumn(std::vector<T>& column, std::size_t count, F& f) {
        column.insert(column.end(), Generated<T, F>(&f, 0), Generated<T, F>(&f, count));
    }

    std::vector<std::uint32_t> m_keys;
    std::vector<double> m_times;
    std::vector<std::int64_t> m_sizes;
    // Present only when some entry keeps a name: per entry an index into
    // m_names, or kNoName.
    std::vector<std::uint32_t> m_nameSlot;
    std::vector<std::string> m_names;
    std::vector<DirRecord> m_dirs;

    // Lookup state. Before the index exists, the entries present are exactly
    // [m_front, size).
    std::size_t m_front = 0;
    std::size_t m_left = 0;
    bool m_indexed = false;
    std::vector<std::uint64_t> m_taken;  // bit per entry, with the index
    std::vector<std::uint32_t> m_next;   // next entry with the same key
    struct Slot {
        std::uint32_t key;
        std::uint32_t head;  // first entry present with the key, or a marker
    };
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
};

}  // namespace quorvel
