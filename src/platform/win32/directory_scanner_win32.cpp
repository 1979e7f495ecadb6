#include <vector>

#include "platform/directory_scanner.h"
#include "platform/win32/file_info_win32.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

// One entry as the listing gave it.
struct Record {
    std::string name;
    DWORD attributes = 0;
    DWORD reparseTag = 0;
    std::int64_t size = 0;
    EpochTime modified;
};

// One directory on the walk's stack, read in full when it was entered, so
// no find handle stays open while deeper levels are walked.
struct Frame {
    std::vector<Record> records;
    std::size_t pos = 0;
    std::size_t pathLength = 0;  // length of the path including the separator
    bool hasPending = false;
    std::size_t pendingRecord = 0;
};

bool ReadAll(const std::string& directory, std::vector<Record>& records) {
    records.clear();
    WIN32_FIND_DATAW data{};
    win32::UniqueFind find(::FindFirstFileExW(win32::SystemPath(directory + "*").c_str(),
                                              FindExInfoBasic, &data, FindExSearchNameMatch,
                                              nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.Valid()) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::wstring_view name(data.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        Record r;
        r.name = win32::Narrow(name);
        r.attributes = data.dwFileAttributes;
        r.reparseTag =
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0;
        const FileInfo info = win32::InfoFromFindData(data);
        r.size = info.size;
        r.modified = info.modified;
        records.push_back(std::move(r));
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

bool IsLink(const Record& r) {
    // Symbolic links and junctions: never entered, so links make no loops.
    return (r.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (r.reparseTag == IO_REPARSE_TAG_SYMLINK || r.reparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

}  // namespace

// Windows has no directory descriptors; the walk goes by path.
UniqueFd OpenDirectory(const std::string& /*path*/) {
    return UniqueFd();
}

bool ScanEntry::Resolve() {
    if (m_resolved) {
        return m_resolveOk;
    }
    m_resolved = true;
    // A link: its target's details; a dangling link reports itself.
    if (win32::UniqueHandle target = win32::OpenForQuery(std::string(m_fullPath))) {
        const FileInfo info = win32::InfoFromHandle(target.Get());
        m_isDirectory = info.isDirectory;
        m_size = m_isDirectory ? 0 : info.size;
        m_modified = info.modified;
        m_device = info.device;
        m_inode = info.inode;
    }
    return m_resolveOk = true;
}

UniqueFd ScanEntry::OpenAsDirectory() const {
    return UniqueFd();
}

bool DirectoryScanner::Scan(const std::string& root, Visitor& visitor) {
    std::string path = root.empty() ? std::string(".\\") : root;
    if (path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    std::vector<Frame> frames(1);
    if (!ReadAll(path, frames[0].records)) {
        return false;
    }
    frames[0].pathLength = path.size();
    std::size_t depth = 0;

    auto makeEntry = [&](const Frame& frame, const Record& r) {
        ScanEntry e;
        e.m_name = r.name;
        e.m_type = IsLink(r)                                        ? ScanEntry::Type::Symlink
                   : (r.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ScanEntry::Type::Directory
                                                                    : ScanEntry::Type::Other;
        e.m_hidden = (r.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
        path.resize(frame.pathLength);
        path.append(r.name);
        e.m_fullPath = path;
        if (e.m_type != ScanEntry::Type::Symlink) {
            // The listing has the details already.
            e.m_resolved = true;
            e.m_resolveOk = true;
            e.m_isDirectory = e.m_type == ScanEntry::Type::Directory;
            e.m_size = e.m_isDirectory ? 0 : r.size;
            e.m_modified = r.modified;
        }
        return e;
    };

    for (;;) {
        Frame& frame = frames[depth];
        if (frame.hasPending) {
            frame.hasPending = false;
            if (visitor.ShouldStop()) {
                break;
            }
            ScanEntry e = makeEntry(frame, frame.records[frame.pendingRecord]);
            visitor.Visit(e);
        }
        if (visitor.ShouldStop()) {
            break;
        }
        if (frame.pos >= frame.records.size()) {
            if (depth == 0) {
                break;
            }
            frame.records.clear();
            frame.records.shrink_to_fit();
            --depth;
            continue;
        }
        const std::size_t index = frame.pos++;
        ScanEntry e = makeEntry(frame, frame.records[index]);
        if (e.IsRealDirectory() && visitor.Enter(e)) {
            visitor.BeforeRead(e);
            path.resize(frame.pathLength);
            path.append(frame.records[index].name);
            path += '\\';
            std::vector<Record> records;
            if (ReadAll(path, records)) {
                frame.hasPending = true;
                frame.pendingRecord = index;
                const std::size_t childPathLength = path.size();
                if (frames.size() <= depth + 1) {
                    frames.emplace_back();  // may move the frames; no references are kept
                }
                Frame& next = frames[depth + 1];
                next.records = std::move(records);
                next.pos = 0;
                next.pathLength = childPathLength;
                next.hasPending = false;
                ++depth;
                continue;
            }
            e = makeEntry(frame, frame.records[index]);
        }
        visitor.Visit(e);
    }
    return true;
}

}  // namespace quorvel::platform
