#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/local_time.h"

namespace quorvel::platform {

/// What a lookup of one path found.
struct FileInfo {
    bool isDirectory = false;
    bool isSymlink = false;
    bool isRegular = false;  ///< a regular file, not a device, pipe or socket
    std::int64_t size = 0;
    EpochTime modified;  ///< last-write time
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

/// Looks a path up, following a symlink to its target; a dangling symlink
/// reports the link itself. Nothing when the path does not exist.
std::optional<FileInfo> Stat(const std::string& path);

/// True when this process may read the existing path by the system's
/// access rules; for a directory, list it and enter it.
bool CanRead(const std::string& path);
/// True when this process may create and replace files in the existing
/// directory.
bool CanWriteIn(const std::string& directory);

/// One entry of a directory listing.
struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;  ///< a real directory, not a symlink to one
};

/// Calls visit for every entry of a directory ("." and ".." skipped), in the
/// order the file system returns them, until visit answers false. Answers
/// false when the directory cannot be opened.
bool ListDirectory(const std::string& directory,
                   const std::function<bool(const DirectoryEntry&)>& visit);

/// The files that other processes hold open for writing, read once from
/// /proc so that many files can be tested against one capture.
class OpenWriters {
public:
    /// Reads every process visible to us (ours excluded).
    static OpenWriters Capture();
    bool Contains(std::uint64_t device, std::uint64_t inode) const;
    bool Empty() const;

private:
    struct Key {
        std::uint64_t device;
        std::uint64_t inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            return std::hash<std::uint64_t>()(k.inode * 31 + k.device);
        }
    };
    std::shared_ptr<const std::unordered_set<Key, KeyHash>> m_keys;
};

/// True when another process holds a lock on the open file that conflicts
/// with an exclusive lock of ours.
bool HasConflictingLock(const std::string& path);

/// True when another process uses the file in a way that conflicts with an
/// exclusive open: it holds a conflicting advisory lock (flock, fcntl or OFD
/// locks) or it holds the file open for writing. Files that cannot be tested
/// count as not in use.
bool IsFileInUse(const std::string& path);

/// Creates a directory and its parents with the given mode; true when it
/// exists afterwards.
bool CreateDirectories(const std::string& path, unsigned mode = 0700);

/// Removes one file; true on success.
bool RemoveFile(const std::string& path);

/// Reads a whole regular file up to the size it had when opened (a file
/// that reports no size, as those of /proc, up to its end), or its first
/// maxBytes bytes. Nothing when it cannot be read or is no regular file (a
/// pipe or device, which may block or never end); error, when given, then
/// tells why, and stays empty when the file does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1),
                                         std::string* error = nullptr);

/// A regular file open for reading by ReadWholeFile's rules: opening never
/// blocks, anything but a regular file is refused, and reading ends at the
/// size the file had when opened.
class InputFile {
public:
    /// Nothing when the file cannot be opened or is no regular file; error,
    /// when given, then tells why, and stays empty when it does not exist.
    static std::unique_ptr<InputFile> Open(const std::string& path, std::string* error = nullptr);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    /// The size when opened; 0 for a file that reports none (as those of
    /// /proc), which reads to its end.
    std::uint64_t Size() const { return m_size; }
    /// Reads up to size bytes into data, as many as the file still has
    /// before its end: answers the count, 0 at the end. Nothing on a
    /// failure, with the reason in error when given.
    std::optional<std::size_t> Read(char* data, std::size_t size, std::string* error = nullptr);

private:
    struct Impl;
    InputFile(std::unique_ptr<Impl> impl, std::string path, std::uint64_t size);
    std::unique_ptr<Impl> m_impl;
    std::string m_path;
    std::uint64_t m_size = 0;
    std::uint64_t m_read = 0;
};

/// A destination for text that may fail part-way.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    /// Appends data; false once anything failed (later writes keep failing).
    virtual bool Write(std::string_view data) = 0;
};

/// A regular file opened for writing, created when missing, from its start
/// (emptied) or at its end. Opening never blocks: a FIFO, a device or any
/// other file that is not regular is refused, and so is a path through
/// another user's link (WriteTarget).
class OutputFile : public OutputSink {
public:
    /// Nothing when the file cannot be opened, with the reason in error.
    static std::unique_ptr<OutputFile> Open(const std::string& path, bool append,
                                            std::string* error = nullptr);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    bool Write(std::string_view data) override;

private:
    explicit OutputFile(int fd) : m_fd(fd) {}
    int m_fd;
    bool m_failed = false;
};

/// Where a write to path lands: the path itself, or the file its symlinks
/// lead to (relative links taken from the link's directory). A link, on any
/// component of the path, is followed only when it belongs to this
/// program's user or to root, the rule the kernel's protected_symlinks
/// applies in sticky directories: nobody else's link can aim a write of
/// ours at a file of their choosing. Nothing, with the reason in error,
/// when another user's link (or a loop of links) is in the way.
std::optional<std::string> WriteTarget(const std::string& path, std::string* error = nullptr);

/// Writes a file so that readers see either the old content or the whole new
/// one: data goes to a temporary file in the same directory, which Commit
/// flushes and renames over the destination. Destroyed without a successful
/// Commit, it removes the temporary file and leaves the destination alone.
/// A destination that is a symlink is written through (WriteTarget: only
/// links of this user or root): the file it leads to is replaced and the
/// link stays. An existing file keeps its permissions and, where the
/// process may set them, its owner and group; a new one gets mode less the
/// umask, as any program's new file does.
class AtomicFile : public OutputSink {
public:
    AtomicFile();
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// Creates the temporary file beside path with the given permissions.
    bool Open(const std::string& path, unsigned mode = 0666);
    bool Write(std::string_view data) override;
    /// Flushes, syncs and renames; false when anything failed since Open.
    bool Commit();
    /// Why Open or Commit failed, as a sentence.
    std::string Error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// Writes data to path through AtomicFile; false on any failure, with the
/// reason in error when given.
bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode = 0666,
                         std::string* error = nullptr);

}  // namespace quorvel::platform
