#include "engine/snapshot.h"

#include <zlib.h>

#include <bit>
#include <limits>

#include "platform/paths.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kTakenAll = kNone - 1;

std::size_t HomeSlot(std::uint32_t key, std::size_t mask) {
    // Fibonacci hashing: the top bits of the product are well mixed.
    const int bits = std::countr_zero(mask + 1);
    return bits == 0 ? 0 : static_cast<std::uint32_t>(key * 2654435769u) >> (32 - bits);
}

}  // namespace

std::uint32_t Crc32Step(std::uint32_t reg, const void* data, std::size_t size) {
    // zlib conditions the register on the way in and out; undo both so the
    // caller holds the raw register.
    return static_cast<std::uint32_t>(
               crc32_z(reg ^ 0xFFFFFFFFu, static_cast<const Bytef*>(data), size)) ^
           0xFFFFFFFFu;
}

std::uint32_t PathKey(std::string_view path) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(path.data()), path.size()));
}

void Snapshot::Reserve(std::size_t count) {
    m_keys.reserve(count);
    m_times.reserve(count);
    m_sizes.reserve(count);
}

void Snapshot::Trim() {
    const std::size_t n = m_keys.size();
    if (m_keys.capacity() > n + n / 4 + 64) {
        m_keys.shrink_to_fit();
        m_times.shrink_to_fit();
        m_sizes.shrink_to_fit();
        if (!m_nameSlot.empty()) {
            m_nameSlot.shrink_to_fit();
        }
    }
}

void Snapshot::Clear() {
    m_dirs.clear();
    m_keys.clear();
    m_times.clear();
    m_sizes.clear();
    m_nameSlot.clear();
    m_names.clear();
    m_front = 0;
    m_left = 0;
    m_indexed = false;
    // The index is made anew by every check that needs it: its room goes.
    std::vector<std::uint64_t>().swap(m_taken);
    std::vector<std::uint32_t>().swap(m_next);
    std::vector<Slot>().swap(m_slots);
    m_mask = 0;
}

void Snapshot::Append(std::uint32_t key, double time, std::int64_t size, std::string_view name) {
    if (m_nameSlot.empty()) {
        m_nameSlot.reserve(m_keys.capacity());
        m_nameSlot.assign(m_keys.size(), kNoName);
    }
    m_keys.push_back(key);
    m_times.push_back(time);
    m_sizes.push_back(size);
    m_nameSlot.push_back(static_cast<std::uint32_t>(m_names.size()));
    m_names.emplace_back(name);
}

void Snapshot::Append(const File& file) {
    if (file.name) {
        Append(file.key, file.time, file.size, *file.name);
    } else {
        Append(file.key, file.time, file.size);
    }
}

const std::string* Snapshot::NameAt(std::size_t i) const {
    if (m_nameSlot.empty() || m_nameSlot[i] == kNoName) {
        return nullptr;
    }
    return &m_names[m_nameSlot[i]];
}

File Snapshot::At(std::size_t i) const {
    File f;
    f.key = m_keys[i];
    f.time = m_times[i];
    f.size = m_sizes[i];
    if (const std::string* name = NameAt(i)) {
        f.name = *name;
    }
    return f;
}

void Snapshot::PopBack() {
    if (m_keys.empty()) {
        return;
    }
    m_keys.pop_back();
    m_times.pop_back();
    m_sizes.pop_back();
    if (!m_nameSlot.empty()) {
        if (m_nameSlot.back() != kNoName && m_nameSlot.back() + 1 == m_names.size()) {
            m_names.pop_back();
        }
        m_nameSlot.pop_back();
    }
}

void Snapshot::AppendTaken(Snapshot& from, std::size_t i) {
    if (std::string* name = from.m_nameSlot.empty() || from.m_nameSlot[i] == kNoName
                                ? nullptr
                                : &from.m_names[from.m_nameSlot[i]]) {
        if (m_nameSlot.empty()) {
            m_nameSlot.assign(m_keys.size(), kNoName);
        }
        m_keys.push_back(from.m_keys[i]);
        m_times.push_back(from.m_times[i]);
        m_sizes.push_back(from.m_sizes[i]);
        m_nameSlot.push_back(static_cast<std::uint32_t>(m_names.size()));
        m_names.push_back(std::move(*name));
        return;
    }
    Append(from.m_keys[i], from.m_times[i], from.m_sizes[i]);
}

void Snapshot::AppendTaken(Snapshot& from, std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return;
    }
    if (!from.m_nameSlot.empty() || !m_nameSlot.empty()) {
        for (std::size_t i = begin; i < end; ++i) {
            AppendTaken(from, i);
        }
        return;
    }
    // Without names the runs are copied whole.
    const auto b = static_cast<std::ptrdiff_t>(begin), e = static_cast<std::ptrdiff_t>(end);
    m_keys.insert(m_keys.end(), from.m_keys.begin() + b, from.m_keys.begin() + e);
    m_times.insert(m_times.end(), from.m_times.begin() + b, from.m_times.begin() + e);
    m_sizes.insert(m_sizes.end(), from.m_sizes.begin() + b, from.m_sizes.begin() + e);
}

std::int32_t Snapshot::OpenDirectory(std::int32_t parent, std::string_view name) {
    const auto index = static_cast<std::int32_t>(m_dirs.size());
    DirRecord record;
    record.name = std::string(name);
    record.parent = parent;
    record.begin = static_cast<std::uint32_t>(m_keys.size());
    record.end = record.begin;
    m_dirs.push_back(std::move(record));
    if (parent >= 0) {
        DirRecord& p = m_dirs[static_cast<std::size_t>(parent)];
        if (p.lastChild >= 0) {
            m_dirs[static_cast<std::size_t>(p.lastChild)].nextSibling = index;
        } else {
            p.firstChild = index;
        }
        p.lastChild = index;
    }
    return index;
}

void Snapshot::CloseDirectory(std::int32_t index) {
    m_dirs[static_cast<std::size_t>(index)].end = static_cast<std::uint32_t>(m_keys.size());
}

std::int32_t Snapshot::FindChild(std::int32_t parent, std::string_view name) const {
    if (parent < 0 || static_cast<std::size_t>(parent) >= m_dirs.size()) {
        return -1;
    }
    for (std::int32_t c = m_dirs[static_cast<std::size_t>(parent)].firstChild; c >= 0;
         c = m_dirs[static_cast<std::size_t>(c)].nextSibling) {
        if (m_dirs[static_cast<std::size_t>(c)].name == name) {
            return c;
        }
    }
    return -1;
}

std::int32_t Snapshot::FindDirectory(std::string_view relativePath) const {
    std::int32_t index = m_dirs.empty() ? -1 : 0;
    while (index >= 0 && !relativePath.empty()) {
        const std::size_t slash = relativePath.find('/');
        index = FindChild(index, relativePath.substr(0, slash));
        relativePath =
            slash == std::string_view::npos ? std::string_view() : relativePath.substr(slash + 1);
    }
    return index;
}

std::string Snapshot::RelativePath(std::int32_t index) const {
    std::vector<const std::string*> parts;
    for (std::int32_t i = index; i > 0; i = m_dirs[static_cast<std::size_t>(i)].parent) {
        parts.push_back(&m_dirs[static_cast<std::size_t>(i)].name);
    }
    return platform::JoinFromLeaf(parts, '/');
}

std::int32_t Snapshot::AppendSubtree(Snapshot& from, std::int32_t index, std::int32_t parent) {
    const DirRecord& top = from.m_dirs[static_cast<std::size_t>(index)];
    const std::int64_t shift =
        static_cast<std::int64_t>(m_keys.size()) - static_cast<std::int64_t>(top.begin);
    AppendTaken(from, top.begin, top.end);
    // The records below keep their order; their runs move by shift.
    std::vector<std::pair<std::int32_t, std::int32_t>> pending{{index, parent}};
    std::int32_t made = -1;
    while (!pending.empty()) {
        auto [old, newParent] = pending.back();
        pending.pop_back();
        const DirRecord& r = from.m_dirs[static_cast<std::size_t>(old)];
        const std::int32_t copy = OpenDirectory(newParent, r.name);
        DirRecord& c = m_dirs[static_cast<std::size_t>(copy)];
        c.begin = static_cast<std::uint32_t>(r.begin + shift);
        c.end = static_cast<std::uint32_t>(r.end + shift);
        c.ownEntry = r.ownEntry;
        if (made < 0) {
            made = copy;
        }
        // Children in reverse, so they are opened in their own order.
        std::vector<std::int32_t> children;
        for (std::int32_t ch = r.firstChild; ch >= 0;
             ch = from.m_dirs[static_cast<std::size_t>(ch)].nextSibling) {
            children.push_back(ch);
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            pending.emplace_back(*it, copy);
        }
    }
    return made;
}

std::size_t Snapshot::DirectoryBytes() const {
    std::size_t bytes = m_dirs.capacity() * sizeof(DirRecord);
    for (const auto& d : m_dirs) {
        if (d.name.capacity() > 15) {
            bytes += d.name.capacity() + 1;
        }
    }
    return bytes;
}

void Snapshot::BeginLookups() {
    m_front = 0;
    m_left = m_keys.size();
    m_indexed = false;
    m_taken.clear();
    m_next.clear();
    m_slots.clear();
    m_mask = 0;
}

bool Snapshot::Present(std::size_t i) const {
    if (i < m_front || i >= m_keys.size()) {
        return false;
    }
    if (!m_indexed) {
        return true;
    }
    return (m_taken[i / 64] >> (i % 64) & 1u) == 0;
}

std::size_t Snapshot::IndexBytes() const {
    return m_taken.capacity() * sizeof(std::uint64_t) + m_next.capacity() * sizeof(std::uint32_t) +
           m_slots.capacity() * sizeof(Slot);
}

void Snapshot::BuildIndex() {
    const std::size_t n = m_keys.size();
    const std::size_t present = n - m_front;
    std::size_t tableSize = 16;
    while (tableSize < present * 2) {
        tableSize *= 2;
    }
    m_mask = tableSize - 1;
    // A slot is free while its head is kNone; a used slot keeps its key after
    // all its entries were taken (head kTakenAll), so probing never has to
    // step over holes.
    m_slots.assign(tableSize, Slot{0, kNone});
    m_next.assign(n, kNone);
    m_taken.assign((n + 63) / 64, 0);
    for (std::size_t i = 0; i < m_front; ++i) {
        m_taken[i / 64] |= std::uint64_t{1} << (i % 64);
    }
    // Backwards, so that each chain starts at the first entry with its key.
    for (std::size_t i = n; i-- > m_front;) {
        const std::uint32_t key = m_keys[i];
        std::size_t pos = HomeSlot(key, m_mask);
        for (;;) {
            Slot& s = m_slots[pos];
            if (s.head == kNone) {
                s.key = key;
                s.head = static_cast<std::uint32_t>(i);
                break;
            }
            if (s.key == key) {
                m_next[i] = s.head;
                s.head = static_cast<std::uint32_t>(i);
                break;
            }
            pos = (pos + 1) & m_mask;
        }
    }
    m_indexed = true;
}

std::size_t Snapshot::TakeFirst(std::uint32_t key) {
    if (m_left == 0) {
        return npos;
    }
    if (!m_indexed) {
        // Entries found in stored order need no index.
        if (m_keys[m_front] == key) {
            --m_left;
            return m_front++;
        }
        BuildIndex();
    }
    std::size_t pos = HomeSlot(key, m_mask);
    for (;;) {
        Slot& s = m_slots[pos];
        if (s.head == kNone) {
            return npos;
        }
        if (s.key == key) {
            if (s.head == kTakenAll) {
                return npos;
            }
            const std::size_t found = s.head;
            const std::uint32_t next = m_next[found];
            s.head = next == kNone ? kTakenAll : next;
            m_taken[found / 64] |= std::uint64_t{1} << (found % 64);
            --m_left;
            return found;
        }
        pos = (pos + 1) & m_mask;
    }
}

}  // namespace quorvel
