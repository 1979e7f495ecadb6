#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

/// Opens a directory for reading, following a symlink in the path; paths
/// longer than the system's limit are opened component by component.
/// Answers an invalid descriptor when the directory cannot be opened.
UniqueFd OpenDirectory(const std::string& path);

/// One entry met by DirectoryScanner. Its type comes from the listing; the
/// details (time, size, identity) are looked up on the first Resolve, which
/// follows a symlink to its target and reports the link itself when the
/// target is missing.
class ScanEntry {
public:
    /// The entry's name as the file system returned it (any bytes but "/").
    std::string_view Name() const { return m_name; }
    /// The directory path (ending with the separator) followed by the name.
    std::string_view FullPath() const { return m_fullPath; }
    /// A real directory (never a symlink to one): one that may be entered.
    bool IsRealDirectory() const { return m_type == Type::Directory; }
    bool IsSymlink() const { return m_type == Type::Symlink; }
    /// Hidden from a plain listing: a name starting with "." here, the
    /// hidden or system attribute on Windows.
    bool IsHidden() const { return m_hidden; }
    /// True once resolved; false when the entry vanished before it could be
    /// looked up.
    bool Resolve();
    /// A directory or a symlink to one (after Resolve).
    bool IsDirectory() const { return m_isDirectory; }
    std::int64_t Size() const { return m_size; }
    EpochTime Modified() const { return m_modified; }
    std::uint64_t Device() const { return m_device; }
    std::uint64_t Inode() const { return m_inode; }
    /// Names the entry's file has (after Resolve): more than 1 for a file
    /// with hard links, whose data may change through another name.
    std::uint64_t LinkCount() const { return m_links; }
    /// Opens a real directory entry without following links; invalid when
    /// that fails, and always in the entries a parallel walk hands to Enter
    /// and Visit (its readers closed their directories; BeforeRead is the
    /// place to open one).
    UniqueFd OpenAsDirectory() const;

private:
    friend class DirectoryScanner;
    friend struct ScanEntryAccess;  // the parallel walk's readers (ScanPool)
    enum class Type : std::uint8_t { Directory, Symlink, Other, Unknown };
    /// The kind a listing gives for an entry (dirent's d_type on POSIX).
    static Type TypeFromListing(unsigned char listedType);

    int m_dirFd = -1;
    const char* m_cName = nullptr;
    std::string_view m_name;
    std::string_view m_fullPath;
    Type m_type = Type::Unknown;
    bool m_hidden = false;
    bool m_resolved = false;
    bool m_resolveOk = false;
    bool m_isDirectory = false;
    std::int64_t m_size = 0;
    EpochTime m_modified;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::uint64_t m_links = 1;
};

/// Walks a directory tree without recursion, so any depth fits, and never
/// enters a symlinked directory, so links cannot make loops. A directory
/// that vanishes or refuses access contributes nothing; the walk goes on.
/// Only a bounded number of directories is held open at once.
class DirectoryScanner {
public:
    class Visitor {
    public:
        virtual ~Visitor() = default;
        /// Asked before each entry; true ends the whole walk.
        virtual bool ShouldStop() = 0;
        /// Asked for each real directory; true has it walked now, before
        /// Visit is called for the directory entry itself.
        virtual bool Enter(ScanEntry& entry) = 0;
        /// Called for every entry (after its walk, when it was entered).
        virtual void Visit(ScanEntry& entry) = 0;

        /// Whether Enter may answer true for a real directory; false
        /// promises it will not, so a parallel walk (ScanPool) does not read
        /// the directory ahead. May be called on any thread, for several
        /// entries at once, and before the walk reaches the entry.
        virtual bool MayEnter(const ScanEntry& entry) const {
            static_cast<void>(entry);
            return true;
        }
        /// Called before the entries of a directory below the root are read;
        /// Resolve and OpenAsDirectory work on the entry here. The single
        /// walk calls it on its thread right after Enter answered true; a
        /// parallel walk calls it on any thread, for several entries at once,
        /// for each directory MayEnter allowed, parents before their
        /// children, and possibly before (or instead of) asking Enter.
        virtual void BeforeRead(ScanEntry& entry) { static_cast<void>(entry); }
    };

    /// Walks root (a directory path ending with the separator). Entries of a
    /// directory come in the order the file system returns them. Answers
    /// false when the root itself cannot be read.
    static bool Scan(const std::string& root, Visitor& visitor);

    /// How many directories are kept open at most while walking deep trees.
    static constexpr int kOpenDirectoryLimit = 48;
};

}  // namespace quorvel::platform
