#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/dir_open.h"
#include "platform/scan_pool.h"
#include "platform/thread.h"

namespace quorvel::platform {

// What the readers keep of an entry between its lookup and its replay.
struct ScanEntryAccess {
    struct Details {
        std::int64_t size = 0;
        EpochTime modified;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t links = 1;
        std::uint8_t type = 0;
        bool resolveOk = false;
        bool isDirectory = false;
    };

    // An entry as listed in the directory open as dirFd, looked up at once.
    // False when its type was not listed and it vanished before the lookup
    // (the single walk skips such entries too).
    static bool Look(ScanEntry& e, int dirFd, const char* name, std::string_view fullPath,
                     unsigned char dType) {
        e.m_dirFd = dirFd;
        e.m_cName = name;
        e.m_name = std::string_view(name);
        e.m_fullPath = fullPath;
        e.m_hidden = name[0] == '.';
        e.m_type = ScanEntry::TypeFromListing(dType);
        const bool resolved = e.Resolve();
        if (e.m_type == ScanEntry::Type::Unknown) {
            // Some file systems do not report types in the listing.
            if (!resolved) {
                return false;
            }
            e.m_type = e.m_isDirectory ? ScanEntry::Type::Directory : ScanEntry::Type::Other;
        }
        return true;
    }

    static Details Keep(const ScanEntry& e) {
        Details d;
        d.size = e.m_size;
        d.modified = e.m_modified;
        d.device = e.m_device;
        d.inode = e.m_inode;
        d.links = e.m_links;
        d.type = static_cast<std::uint8_t>(e.m_type);
        d.resolveOk = e.m_resolveOk;
        d.isDirectory = e.m_isDirectory;
        return d;
    }

    // The entry again, without a directory to open it through.
    static ScanEntry Replay(const Details& d, std::string_view name, std::string_view fullPath) {
        ScanEntry e;
        e.m_name = name;
        e.m_fullPath = fullPath;
        e.m_hidden = !name.empty() && name[0] == '.';
        e.m_type = static_cast<ScanEntry::Type>(d.type);
        e.m_resolved = true;
        e.m_resolveOk = d.resolveOk;
        e.m_isDirectory = d.isDirectory;
        e.m_size = d.size;
        e.m_modified = d.modified;
        e.m_device = d.device;
        e.m_inode = d.inode;
        e.m_links = d.links;
        return e;
    }

    // The entry of a replayed directory, with its parent open again as
    // dirFd (so that it can be opened).
    static void Reopen(ScanEntry& e, int dirFd, const char* name) {
        e.m_dirFd = dirFd;
        e.m_cName = name;
    }
};

namespace {

using Details = ScanEntryAccess::Details;

// Listed directories ahead of the walk, per walk, that no one has taken yet.
constexpr std::size_t kReadAheadBytes = 4 << 20;
constexpr std::size_t kListingChunk = 32 * 1024;

struct Dir;

// A listed directory's descriptor, kept open while directories below it
// wait to be opened through it; counted per walk.
class HeldFd {
public:
    HeldFd(UniqueFd fd, std::atomic<int>& count) : m_fd(std::move(fd)), m_count(count) {
        m_count.fetch_add(1, std::memory_order_relaxed);
    }
    ~HeldFd() { m_count.fetch_sub(1, std::memory_order_relaxed); }
    HeldFd(const HeldFd&) = delete;
    HeldFd& operator=(const HeldFd&) = delete;
    int Get() const { return m_fd.Get(); }

private:
    UniqueFd m_fd;
    std::atomic<int>& m_count;
};

struct Record {
    std::uint32_t name = 0;  // offset of the name in Dir::listing
    std::uint32_t nameLength = 0;
    // Records the single walk meets and passes over right before this one
    // ("." and "..", and entries that vanished before their type was
    // known): it asks ShouldStop for each.
    std::uint32_t skipped = 0;
    Details details;
    std::shared_ptr<Dir> child;  // a directory that may be entered
};

// One directory of a walk. Its state is guarded by the pool's mutex; the
// rest belongs to whoever moved it from Queued to Reading until it leaves
// Reading, then to the walking thread.
struct Dir {
    enum class State : std::uint8_t {
        Queued,   // waits for a reader
        Reading,  // a reader has it
        Ready,    // read ahead, not yet taken
        Failed,   // could not be opened
        Taken,    // the walking thread has it
        Dropped,  // not wanted any more
    };
    State state = State::Queued;
    bool abandoned = false;  // dropped while being read

    // Until it is read: where it is.
    std::string path;  // ends with the separator
    std::size_t nameAt = 0;
    std::shared_ptr<HeldFd> parent;
    std::uint64_t device = 0;  // as its parent's listing saw it (0: unknown)
    std::uint64_t inode = 0;

    // Once read.
    bool opened = false;
    std::vector<char> listing;  // raw dirent64 records, the names among them
    std::vector<Record> entries;
    std::uint32_t skippedAtEnd = 0;
    std::size_t bytes = 0;
};

struct Walk {
    Walk(DirectoryScanner::Visitor& v, int readers) : visitor(v), helperLimit(readers) {}

    DirectoryScanner::Visitor& visitor;
    const int helperLimit;  // pool threads at once
    std::atomic<bool> cancelled{false};
    std::atomic<int> heldFds{0};
    // Guarded by the pool's mutex.
    std::vector<std::shared_ptr<Dir>> pending;  // last in, first out; stale entries skipped
    std::size_t readyBytes = 0;
    int helpers = 0;
    bool walkerWaits = false;
    std::condition_variable changed;  // a directory of the walk is read, or a helper left
};

UniqueFd OpenListed(Dir& dir) {
    UniqueFd fd;
    if (dir.parent) {
        const std::string name = dir.path.substr(dir.nameAt, dir.path.size() - 1 - dir.nameAt);
        fd.Reset(OpenAtRetry(dir.parent->Get(), name.c_str(), kSubdirFlags));
        dir.parent.reset();
        return fd;
    }
    // Its parent was closed (deep trees): through the path, checking it is
    // still the directory the parent listed.
    fd = OpenDirectory(dir.path);
    struct stat st {};
    if (fd && dir.inode != 0 &&
        (::fstat(fd.Get(), &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != dir.device ||
         static_cast<std::uint64_t>(st.st_ino) != dir.inode)) {
        fd.Reset();
    }
    return fd;
}

// Lists the open directory and looks up each entry; each real directory
// the visitor may enter becomes a Dir of its own, announced by BeforeRead.
// A read error keeps what was read, as in the single walk.
void List(Walk& walk, Dir& dir, UniqueFd fd) {
    dir.opened = true;
    std::vector<char>& listing = dir.listing;
    const std::unique_ptr<char[]> chunk(new char[kListingChunk]);  // left uninitialised
    for (;;) {
        const ssize_t n = ::getdents64(fd.Get(), chunk.get(), kListingChunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        listing.insert(listing.end(), chunk.get(), chunk.get() + n);
    }
    listing.shrink_to_fit();
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < listing.size();) {
        const auto* rec = reinterpret_cast<const dirent64*>(listing.data() + offset);
        offset += rec->d_reclen;
        count += IsDotOrDotDot(rec->d_name) ? 0 : 1;
    }
    dir.entries.reserve(count);

    std::string path = std::move(dir.path);
    const std::size_t base = path.size();
    std::size_t children = 0;
    std::uint32_t skipped = 0;
    for (std::size_t offset = 0; offset < listing.size();) {
        const auto* rec = reinterpret_cast<const dirent64*>(listing.data() + offset);
        offset += rec->d_reclen;
        if (IsDotOrDotDot(rec->d_name)) {
            ++skipped;
            continue;
        }
        if (walk.cancelled.load(std::memory_order_relaxed)) {
            break;
        }
        const std::size_t nameLength = std::strlen(rec->d_name);
        path.resize(base);
        path.append(rec->d_name, nameLength);
        ScanEntry e;
        if (!ScanEntryAccess::Look(e, fd.Get(), rec->d_name, path, rec->d_type)) {
            ++skipped;
            continue;
        }
        Record& r = dir.entries.emplace_back();
        r.name = static_cast<std::uint32_t>(rec->d_name - listing.data());
        r.nameLength = static_cast<std::uint32_t>(nameLength);
        r.skipped = std::exchange(skipped, 0);
        r.details = ScanEntryAccess::Keep(e);
        if (e.IsRealDirectory() && walk.visitor.MayEnter(e)) {
            walk.visitor.BeforeRead(e);
            auto child = std::make_shared<Dir>();
            child->path = path + '/';
            child->nameAt = base;
            if (r.details.resolveOk) {
                child->device = r.details.device;
                child->inode = r.details.inode;
            }
            r.child = std::move(child);
            ++children;
        }
    }
    dir.skippedAtEnd = skipped;
    dir.bytes = sizeof(Dir) + listing.capacity() + dir.entries.capacity() * sizeof(Record);
    if (children > 0 &&
        walk.heldFds.load(std::memory_order_relaxed) < DirectoryScanner::kOpenDirectoryLimit) {
        auto held = std::make_shared<HeldFd>(std::move(fd), walk.heldFds);
        for (Record& r : dir.entries) {
            if (r.child) {
                r.child->parent = held;
            }
        }
    }
}

void Read(Walk& walk, Dir& dir) {
    UniqueFd fd = OpenListed(dir);
    if (fd) {
        List(walk, dir, std::move(fd));
    }
}

}  // namespace

struct ScanPool::Impl {
    mutable std::mutex mutex;
    std::condition_variable work;  // something to read, or the end
    bool stopping = false;
    int idle = 0;
    std::vector<Walk*> walks;
    std::size_t nextWalk = 0;
    std::vector<Thread> threads;

    // A queued directory of walk that a helper may read now, marked Reading.
    static std::shared_ptr<Dir> Claim(Walk& walk) {
        if (walk.readyBytes >= kReadAheadBytes) {
            return nullptr;
        }
        while (!walk.pending.empty()) {
            std::shared_ptr<Dir> d = std::move(walk.pending.back());
            walk.pending.pop_back();
            if (d->state == Dir::State::Queued) {
                d->state = Dir::State::Reading;
                return d;
            }
        }
        return nullptr;
    }

    // Publishes a directory that was read: taken at once by the walking
    // thread, or left ready for it. Its subdirectories queue in walk order
    // (the first on top).
    void Finish(Walk& walk, const std::shared_ptr<Dir>& d, bool take) {
        if (d->abandoned || walk.cancelled.load(std::memory_order_relaxed)) {
            d->state = Dir::State::Dropped;
            Free(*d);
            return;
        }
        if (!d->opened) {
            d->state = Dir::State::Failed;
            return;
        }
        d->state = take ? Dir::State::Taken : Dir::State::Ready;
        if (!take) {
            walk.readyBytes += d->bytes;
        }
        const std::size_t before = walk.pending.size();
        for (auto r = d->entries.rbegin(); r != d->entries.rend(); ++r) {
            if (r->child) {
                walk.pending.push_back(r->child);
            }
        }
        const std::size_t added = walk.pending.size() - before;
        if (added > 0 && idle > 0) {
            if (added == 1) {
                work.notify_one();
            } else {
                work.notify_all();
            }
        }
        if (walk.walkerWaits) {
            walk.changed.notify_all();
        }
    }

    static void Free(Dir& d) {
        std::vector<Record>().swap(d.entries);
        std::vector<char>().swap(d.listing);
        d.parent.reset();
    }

    // The walking thread does not enter d: it goes with everything below.
    void Drop(Walk& walk, std::shared_ptr<Dir> d) {
        bool freed = false;
        std::vector<std::shared_ptr<Dir>> stack{std::move(d)};
        while (!stack.empty()) {
            std::shared_ptr<Dir> x = std::move(stack.back());
            stack.pop_back();
            switch (x->state) {
                case Dir::State::Queued:
                    x->state = Dir::State::Dropped;
                    x->parent.reset();
                    break;
                case Dir::State::Reading:
                    x->abandoned = true;
                    break;
                case Dir::State::Ready:
                    walk.readyBytes -= x->bytes;
                    freed = true;
                    for (Record& r : x->entries) {
                        if (r.child) {
                            stack.push_back(std::move(r.child));
                        }
                    }
                    x->state = Dir::State::Dropped;
                    Free(*x);
                    break;
                case Dir::State::Failed:
                case Dir::State::Taken:
                case Dir::State::Dropped:
                    break;
            }
        }
        if (freed && idle > 0) {
            work.notify_all();
        }
    }

    // The walking thread needs d now: it waits for the reader that has it,
    // reads it itself when no one does, and meanwhile reads ahead what no
    // one reads. Answers whether d could be opened.
    bool Obtain(Walk& walk, const std::shared_ptr<Dir>& d) {
        std::unique_lock lock(mutex);
        for (;;) {
            switch (d->state) {
                case Dir::State::Queued:
                    d->state = Dir::State::Reading;
                    lock.unlock();
                    Read(walk, *d);
                    lock.lock();
                    Finish(walk, d, true);
                    return d->state == Dir::State::Taken;
                case Dir::State::Ready: {
                    d->state = Dir::State::Taken;
                    const bool wasFull = walk.readyBytes >= kReadAheadBytes;
                    walk.readyBytes -= d->bytes;
                    if (wasFull && walk.readyBytes < kReadAheadBytes && idle > 0) {
                        work.notify_all();
                    }
                    return true;
                }
                case Dir::State::Reading:
                    if (std::shared_ptr<Dir> other = Claim(walk)) {
                        lock.unlock();
                        Read(walk, *other);
                        lock.lock();
                        Finish(walk, other, false);
                        continue;
                    }
                    walk.walkerWaits = true;
                    walk.changed.wait(lock);
                    walk.walkerWaits = false;
                    continue;
                case Dir::State::Failed:
                case Dir::State::Taken:
                case Dir::State::Dropped:
                    return false;
            }
        }
    }

    // A directory MayEnter held back but Enter asked for: read here.
    bool ReadUnforeseen(Walk& walk, const std::shared_ptr<Dir>& d, const ScanEntry& e,
                        const std::string& parentPath) {
        UniqueFd parentFd = OpenDirectory(parentPath);
        if (!parentFd) {
            return false;
        }
        const std::string name(e.Name());
        ScanEntry reopened = e;
        ScanEntryAccess::Reopen(reopened, parentFd.Get(), name.c_str());
        walk.visitor.BeforeRead(reopened);
        d->parent = std::make_shared<HeldFd>(std::move(parentFd), walk.heldFds);
        Read(walk, *d);
        std::lock_guard lock(mutex);
        d->state = Dir::State::Reading;
        Finish(walk, d, true);
        return d->state == Dir::State::Taken;
    }

    void Begin(Walk& walk) {
        std::lock_guard lock(mutex);
        walks.push_back(&walk);
        while (static_cast<int>(threads.size()) < walk.helperLimit) {
            Thread t([this] { Run(); });
            if (!t.Joinable()) {
                break;  // fewer helpers: the walking thread reads the rest
            }
            threads.push_back(std::move(t));
        }
    }

    // Ends the walk: nothing queued is read any more, and once the helpers
    // still reading for it are done, no thread touches it.
    void End(Walk& walk) {
        std::vector<std::shared_ptr<Dir>> pending;
        {
            std::unique_lock lock(mutex);
            walk.cancelled.store(true, std::memory_order_relaxed);
            pending.swap(walk.pending);
            walk.walkerWaits = true;
            walk.changed.wait(lock, [&] { return walk.helpers == 0; });
            walk.walkerWaits = false;
            walks.erase(std::find(walks.begin(), walks.end(), &walk));
        }
    }

    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            Walk* walk = nullptr;
            std::shared_ptr<Dir> d;
            for (std::size_t i = 0; i < walks.size() && !d; ++i) {
                Walk* w = walks[(nextWalk + i) % walks.size()];
                if (w->helpers < w->helperLimit && !w->cancelled.load(std::memory_order_relaxed)) {
                    d = Claim(*w);
                    walk = w;
                }
            }
            if (!d) {
                if (stopping) {
                    return;
                }
                ++idle;
                work.wait(lock);
                --idle;
                continue;
            }
            nextWalk = (nextWalk + 1) % std::max<std::size_t>(walks.size(), 1);
            ++walk->helpers;
            lock.unlock();
            Read(*walk, *d);
            lock.lock();
            Finish(*walk, d, false);
            --walk->helpers;
            if (walk->helpers == 0 && walk->walkerWaits) {
                walk->changed.notify_all();
            }
        }
    }
};

ScanPool::ScanPool() : m_impl(std::make_unique<Impl>()) {}

ScanPool::~ScanPool() {
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->stopping = true;
    }
    m_impl->work.notify_all();
    m_impl->threads.clear();  // joins each
}

ScanPool& ScanPool::Process() {
    static ScanPool pool;
    return pool;
}

int ScanPool::DefaultWalkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxWalkers));
}

std::size_t ScanPool::ThreadCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->threads.size();
}

bool ScanPool::Scan(const std::string& root, DirectoryScanner::Visitor& visitor, int walkers) {
    walkers = walkers <= 0 ? DefaultWalkers() : std::min(walkers, kMaxWalkers);
    if (walkers == 1) {
        return DirectoryScanner::Scan(root, visitor);
    }
    UniqueFd rootFd = OpenDirectory(root);
    if (!rootFd) {
        return false;
    }
    std::string path = root.empty() ? std::string("./") : root;
    if (path.back() != '/') {
        path += '/';
    }

    Impl& pool = *m_impl;
    Walk walk(visitor, walkers - 1);
    pool.Begin(walk);

    // The walk of the single walker, on the directories as read.
    struct Frame {
        std::shared_ptr<Dir> dir;
        std::size_t pos = 0;
        std::size_t pathLength = 0;
        bool hasPending = false;
        std::size_t pending = 0;
        std::uint32_t skipsAsked = 0;  // for the record at pos
    };
    std::vector<Frame> frames;
    {
        auto top = std::make_shared<Dir>();
        top->path = path;
        top->state = Dir::State::Reading;
        List(walk, *top, std::move(rootFd));
        std::lock_guard lock(pool.mutex);
        pool.Finish(walk, top, true);
        frames.push_back({std::move(top), 0, path.size()});
    }
    auto entryAt = [&](const Frame& frame, std::size_t index) {
        const Record& r = frame.dir->entries[index];
        const std::string_view name(frame.dir->listing.data() + r.name, r.nameLength);
        path.resize(frame.pathLength);
        path.append(name);
        return ScanEntryAccess::Replay(r.details, name, path);
    };

    for (;;) {
        Frame& frame = frames.back();
        if (frame.hasPending) {
            frame.hasPending = false;
            if (visitor.ShouldStop()) {
                break;
            }
            ScanEntry e = entryAt(frame, frame.pending);
            visitor.Visit(e);
        }
        if (visitor.ShouldStop()) {
            break;
        }
        const bool atEnd = frame.pos >= frame.dir->entries.size();
        if (frame.skipsAsked <
            (atEnd ? frame.dir->skippedAtEnd : frame.dir->entries[frame.pos].skipped)) {
            ++frame.skipsAsked;
            continue;
        }
        frame.skipsAsked = 0;
        if (atEnd) {
            if (frames.size() == 1) {
                break;
            }
            frames.pop_back();
            continue;
        }
        const std::size_t index = frame.pos++;
        ScanEntry e = entryAt(frame, index);
        Record& r = frame.dir->entries[index];
        if (e.IsRealDirectory() && visitor.Enter(e)) {
            std::shared_ptr<Dir> child = std::move(r.child);
            bool opened;
            if (child) {
                opened = pool.Obtain(walk, child);
            } else {
                child = std::make_shared<Dir>();
                child->path = path + '/';
                child->nameAt = frame.pathLength;
                opened = pool.ReadUnforeseen(walk, child, e, path.substr(0, frame.pathLength));
            }
            if (opened) {
                frame.hasPending = true;
                frame.pending = index;
                path += '/';
                frames.push_back({std::move(child), 0, path.size()});  // frame is stale now
                continue;
            }
        } else if (r.child) {
            std::lock_guard lock(pool.mutex);
            pool.Drop(walk, std::move(r.child));
        }
        visitor.Visit(e);
    }
    pool.End(walk);
    frames.clear();  // before the walk they count their descriptors in
    return true;
}

}  // namespace quorvel::platform
