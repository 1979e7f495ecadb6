#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_operation.h"
#include "platform/paths.h"
#include "platform/posix/path_stat.h"
#include "platform/trash.h"
#include "platform/unique_fd.h"

namespace quorvel::platform {

namespace fs = std::filesystem;

namespace {

std::optional<struct stat> FollowStat(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st;
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when inner is outer itself or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    std::string i = inner.string(), o = outer.string();
    if (o == "/") {
        return true;
    }
    return i == o || (i.size() > o.size() && i.compare(0, o.size(), o) == 0 && i[o.size()] == '/');
}

// A name for a temporary file beside target that no one else uses.
std::string TempNameFor(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return (target.parent_path() /
            ("." + target.filename().string() + ".qvtmp-" + std::to_string(::getpid()) + "-" +
             std::to_string(counter.fetch_add(1)) + "-" + std::to_string(stamp % 1000000)))
        .string();
}

class Runner {
public:
    Runner(const FileOperation& op, FileOpUi& ui, std::vector<std::string>* errors)
        : m_op(op), m_ui(ui), m_errors(errors) {}

    bool Run() {
        switch (m_op.kind) {
            case FileOpKind::Copy:
            case FileOpKind::Move:
                CopyOrMove();
                break;
            case FileOpKind::Rename:
                Rename();
                break;
            case FileOpKind::Delete:
                Delete();
                break;
        }
        return m_ok;
    }

private:
    void Fail(const std::string& message) {
        m_ok = false;
        if (m_errors != nullptr) {
            m_errors->push_back(message);
        }
        if (m_op.reportErrors) {
            m_ui.Error(m_op, message);
        }
    }

    void Progress(const fs::path& source) {
        if (m_op.showProgress) {
            m_ui.Progress(m_op, source.string());
        }
    }

    // May an existing destination be replaced?
    bool MayReplace(const fs::path& source, const fs::path& target) {
        if (!m_op.confirmOverwrite) {
            return true;
        }
        if (m_ui.ConfirmOverwrite(m_op, source.string(), target.string())) {
            return true;
        }
        m_skipped = true;
        return false;
    }

    // The last component of source number index as an fnmatch pattern: the
    // template's own wildcards stay wildcards, every other character
    // (above all each one a macro produced) matches only itself. Answers
    // whether the pattern holds a wildcard.
    bool LeafPattern(std::size_t index, std::string& pattern) const {
        const std::string& source = m_op.sources[index];
        const std::vector<bool> wildcards = TemplateWildcards(m_op, index);
        std::size_t end = source.size();
        while (end > 1 && source[end - 1] == '/') {
            --end;
        }
        const std::size_t slash = end == 0 ? std::string::npos : source.rfind('/', end - 1);
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        pattern.clear();
        bool any = false;
        for (std::size_t i = begin; i < end; ++i) {
            const char c = source[i];
            if (wildcards[i]) {
                any = true;
            } else if (c == '*' || c == '?' || c == '[' || c == '\\') {
                pattern += '\\';
            }
            pattern += c;
        }
        const std::string_view leaf(source.data() + begin, end - begin);
        return any && leaf != "." && leaf != "..";
    }

    // The entries a source stands for. A source that exists as written is
    // that entry, whatever its name holds; otherwise a wildcard of the
    // template in the last component expands to the matching entries
    // (sorted by name). A source without one names a single entry, which
    // must exist.
    std::vector<fs::path> Expand(std::size_t index, bool& wildcard) {
        const std::string& source = m_op.sources[index];
        fs::path p = Absolute(source);
        std::string name;
        wildcard = LeafPattern(index, name) && !LinkStat(p);
        if (!wildcard) {
            if (!LinkStat(p)) {
                Fail("Cannot find \"" + p.string() + "\": " + ErrnoText(ENOENT));
                return {};
            }
            return {p};
        }
        std::vector<fs::path> found;
        std::error_code ec;
        fs::directory_iterator it(p.parent_path(), ec), end;
        if (ec) {
            Fail("Cannot read \"" + p.parent_path().string() + "\": " + ec.message());
            return {};
        }
        for (; it != end; it.increment(ec)) {
            if (ec) {
                break;
            }
            std::string entry = it->path().filename().string();
            if (::fnmatch(name.c_str(), entry.c_str(), 0) != 0) {
                continue;
            }
            if (m_op.filesOnly) {
                auto st = FollowStat(it->path());
                if (st && S_ISDIR(st->st_mode)) {
                    continue;
                }
            }
            found.push_back(it->path());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    void CopyOrMove() {
        const bool move = m_op.kind == FileOpKind::Move;
        if (m_op.destinations.empty() || m_op.destinations.front().empty()) {
            Fail("No destination given");
            return;
        }
        const std::string& destText = m_op.destinations.front();
        fs::path dest = Absolute(destText);
        std::vector<fs::path> items;
        bool anyWildcard = false;
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            if (m_op.sources[i].empty()) {
                continue;
            }
            bool wildcard = false;
            auto expanded = Expand(i, wildcard);
            anyWildcard = anyWildcard || wildcard;
            items.insert(items.end(), expanded.begin(), expanded.end());
        }
        auto destStat = FollowStat(dest);
        const bool intoDirectory = (destStat && S_ISDIR(destStat->st_mode)) ||
                                   destText.back() == '/' || anyWildcard || m_op.sources.size() > 1;
        if (intoDirectory && !items.empty()) {
            std::error_code ec;
            fs::create_directories(dest, ec);
            auto st = FollowStat(dest);
            if (!st || !S_ISDIR(st->st_mode)) {
                Fail("Cannot create the folder \"" + dest.string() +
                     "\": " + (ec ? ec.message() : ErrnoText(EEXIST)));
                return;
            }
        }
        for (const fs::path& item : items) {
            auto itemStat = LinkStat(item);
            if (move && destStat && itemStat && SameEntry(*itemStat, *destStat)) {
                continue;  // a folder moved onto itself
            }
            Progress(item);
            fs::path target = intoDirectory ? dest / item.filename() : dest;
            if (!intoDirectory) {
                std::error_code ec;
                fs::create_directories(target.parent_path(), ec);
            }
            if (move) {
                MoveItem(item, target);
            } else {
                CopyTop(item, target);
            }
        }
    }

    void Rename() {
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            const std::string& source = m_op.sources[i];
            if (source.empty()) {
                continue;
            }
            if (i >= m_op.destinations.size() || m_op.destinations[i].empty()) {
                Fail("No new name given for \"" + source + "\"");
                continue;
            }
            fs::path from = Absolute(source);
            std::string pattern;
            if (LeafPattern(i, pattern) && !LinkStat(from)) {
                Fail("Cannot rename \"" + from.string() + "\": wildcards name several files");
                continue;
            }
            const std::string& name = m_op.destinations[i];
            fs::path to =
                name.find('/') == std::string::npos ? from.parent_path() / name : Absolute(name);
            to = to.lexically_normal();
            auto fromStat = LinkStat(from);
            if (!fromStat) {
                Fail("Cannot find \"" + from.string() + "\": " + ErrnoText(ENOENT));
                continue;
            }
            Progress(from);
            auto toStat = LinkStat(to);
            if (toStat && !SameEntry(*fromStat, *toStat) &&
                (S_ISDIR(toStat->st_mode) || S_ISDIR(fromStat->st_mode))) {
                Fail("Cannot rename \"" + from.string() + "\" to \"" + to.string() +
                     "\": " + ErrnoText(EEXIST));
                continue;
            }
            MoveItem(from, to);
        }
    }

    // Refuses the root, the home directory and the directories above it.
    bool Protected(const fs::path& path) {
        std::error_code ec;
        fs::path canonical = fs::weakly_canonical(path, ec);
        if (ec) {
            canonical = path;
        }
        fs::path home = fs::weakly_canonical(fs::path(HomeDirectory()), ec);
        if (canonical == fs::path("/") || (!ec && !home.empty() && IsWithin(home, canonical))) {
            Fail("Refusing to delete \"" + path.string() + "\"");
            return true;
        }
        return false;
    }

    void Delete() {
        for (std::size_t i = 0; i < m_op.sources.size(); ++i) {
            if (m_op.sources[i].empty()) {
                continue;
            }
            bool wildcard = false;
            for (const fs::path& item : Expand(i, wildcard)) {
                if (Protected(item)) {
                    continue;
                }
                Progress(item);
                if (m_op.allowUndo) {
                    std::string error;
                    if (!MoveToTrash(item.string(), &error)) {
                        Fail("Cannot move \"" + item.string() + "\" to the trash: " + error);
                    }
                    continue;
                }
                std::error_code ec;
                fs::remove_all(item, ec);
                if (ec) {
                    Fail("Cannot delete \"" + item.string() + "\": " + ec.message());
                }
            }
        }
    }

    // Copies a named source. A symlink given by name is followed as cp does
    // when it belongs to this user or root; another user's link is copied
    // as the link it is, so nobody can make us copy, with our rights, a
    // file they could not read themselves.
    bool CopyTop(const fs::path& from, const fs::path& to) {
        const auto own = LinkStat(from);
        if (own && S_ISLNK(own->st_mode) && own->st_uid != ::geteuid() && own->st_uid != 0) {
            return CopyEntry(from, *own, to, false);
        }
        auto st = FollowStat(from);
        if (!st) {
            Fail("Cannot find \"" + from.string() + "\": " + ErrnoText(errno));
            return false;
        }
        return CopyEntry(from, *st, to, false);
    }

    // Copies one entry; durable copies are synced before a move deletes
    // their source.
    bool CopyEntry(const fs::path& from, const struct stat& st, const fs::path& to, bool durable) {
        auto toStat = LinkStat(to);
        if (toStat && SameEntry(st, *toStat)) {
            Fail("Cannot copy \"" + from.string() + "\" onto itself");
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (IsWithin(to, from)) {
                Fail("Cannot copy \"" + from.string() + "\" into itself");
                return false;
            }
            if (toStat && !S_ISDIR(toStat->st_mode)) {
                Fail("Cannot replace the file \"" + to.string() + "\" with a folder");
                return false;
            }
            if (!toStat && ::mkdir(to.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0) {
                Fail("Cannot create the folder \"" + to.string() + "\": " + ErrnoText(errno));
                return false;
            }
            bool ok = true;
            std::error_code ec;
            fs::directory_iterator it(from, ec), end;
            if (ec) {
                Fail("Cannot read \"" + from.string() + "\": " + ec.message());
                return false;
            }
            std::vector<fs::path> children;
            for (; it != end; it.increment(ec)) {
                if (ec) {
                    Fail("Cannot read \"" + from.string() + "\": " + ec.message());
                    ok = false;
                    break;
                }
                children.push_back(it->path());
            }
            for (const fs::path& child : children) {
                auto childStat = LinkStat(child);  // links inside a folder stay links
                if (!childStat) {
                    Fail("Cannot read \"" + child.string() + "\": " + ErrnoText(errno));
                    ok = false;
                    continue;
                }
                ok = CopyEntry(child, *childStat, to / child.filename(), durable) && ok;
            }
            if (!toStat) {
                ::chmod(to.c_str(), st.st_mode & 07777);
            }
            return ok;
        }
        if (toStat && S_ISDIR(toStat->st_mode)) {
            Fail("Cannot replace the folder \"" + to.string() + "\" with a file");
            return false;
        }
        if (toStat && !MayReplace(from, to)) {
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            return CopyLink(from, to);
        }
        if (!S_ISREG(st.st_mode)) {
            Fail("Cannot copy \"" + from.string() + "\": not a regular file");
            return false;
        }
        return CopyFile(from, to, durable);
    }

    bool CopyLink(const fs::path& from, const fs::path& to) {
        std::error_code ec;
        fs::path target = fs::read_symlink(from, ec);
        std::string temp = TempNameFor(to);
        if (!ec) {
            fs::create_symlink(target, temp, ec);
        }
        if (!ec && ::rename(temp.c_str(), to.c_str()) != 0) {
            ec = std::error_code(errno, std::system_category());
            ::unlink(temp.c_str());
        }
        if (ec) {
            Fail("Cannot copy \"" + from.string() + "\": " + ec.message());
            return false;
        }
        return true;
    }

    // Writes the copy under a temporary name and renames it over the
    // destination, so a failure never leaves a half-written destination.
    bool CopyFile(const fs::path& from, const fs::path& to, bool durable) {
        auto fail = [&](int error) {
            Fail("Cannot copy \"" + from.string() + "\" to \"" + to.string() +
                 "\": " + ErrnoText(error));
            return false;
        };
        UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) {
            return fail(errno);
        }
        struct stat st {};
        if (::fstat(in.Get(), &st) != 0) {
            return fail(errno);
        }
        std::string temp = TempNameFor(to);
        UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!out) {
            return fail(errno);
        }
        auto abandon = [&](int error) {
            out.Reset();
            ::unlink(temp.c_str());
            return fail(error);
        };
        std::vector<char> buffer(1 << 16);
        while (true) {
            ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return abandon(errno);
            }
            if (n == 0) {
                break;
            }
            ssize_t done = 0;
            while (done < n) {
                ssize_t w =
                    ::write(out.Get(), buffer.data() + done, static_cast<std::size_t>(n - done));
                if (w < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return abandon(errno);
                }
                done += w;
            }
        }
        ::fchmod(out.Get(), st.st_mode & 07777);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
        if (durable && ::fsync(out.Get()) != 0) {
            return abandon(errno);
        }
        if (!out.Close()) {
            int error = errno;
            ::unlink(temp.c_str());
            return fail(error);
        }
        if (::rename(temp.c_str(), to.c_str()) != 0) {
            int error = errno;
            ::unlink(temp.c_str());
            return fail(error);
        }
        return true;
    }

    void MoveItem(const fs::path& from, const fs::path& to) {
        auto fromStat = LinkStat(from);
        if (!fromStat) {
            Fail("Cannot find \"" + from.string() + "\": " + ErrnoText(errno));
            return;
        }
        auto toStat = LinkStat(to);
        if (from == to || (toStat && SameEntry(*fromStat, *toStat))) {
            return;  // onto itself: nothing to do
        }
        if (S_ISDIR(fromStat->st_mode) && IsWithin(to, from)) {
            Fail("Cannot move \"" + from.string() + "\" into itself");
            return;
        }
        if (toStat) {
            const bool fromDir = S_ISDIR(fromStat->st_mode), toDir = S_ISDIR(toStat->st_mode);
            if (fromDir && toDir) {
                MergeDirectory(from, to);
                return;
            }
            if (fromDir != toDir) {
                Fail("Cannot move \"" + from.string() + "\" to \"" + to.string() +
                     "\": " + ErrnoText(toDir ? EISDIR : ENOTDIR));
                return;
            }
            if (!MayReplace(from, to)) {
                return;
            }
        }
        if (::rename(from.c_str(), to.c_str()) == 0) {
            return;
        }
        if (errno != EXDEV) {
            Fail("Cannot move \"" + from.string() + "\" to \"" + to.string() +
                 "\": " + ErrnoText(errno));
            return;
        }
        // Another file system: copy everything, and remove the source only
        // when all of it arrived.
        const bool okBefore = m_ok, skippedBefore = m_skipped;
        m_ok = true;
        m_skipped = false;
        bool copied = CopyEntry(from, *fromStat, to, true) && m_ok && !m_skipped;
        m_ok = okBefore && m_ok;
        m_skipped = skippedBefore || m_skipped;
        if (!copied) {
            return;
        }
        std::error_code ec;
        fs::remove_all(from, ec);
        if (ec) {
            Fail("Cannot remove \"" + from.string() + "\" after moving it: " + ec.message());
        }
    }

    // Moves the entries of one folder into an existing one.
    void MergeDirectory(const fs::path& from, const fs::path& to) {
        std::error_code ec;
        std::vector<fs::path> children;
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
            children.push_back(it->path());
        }
        if (ec) {
            Fail("Cannot read \"" + from.string() + "\": " + ec.message());
            return;
        }
        for (const fs::path& child : children) {
            MoveItem(child, to / child.filename());
        }
        ::rmdir(from.c_str());  // stays when something in it was kept
    }

    const FileOperation& m_op;
    FileOpUi& m_ui;
    std::vector<std::string>* m_errors;
    bool m_ok = true;
    bool m_skipped = false;
};

}  // namespace

bool RunFileOperation(const FileOperation& operation, FileOpUi& ui,
                      std::vector<std::string>* errors) {
    const bool ok = Runner(operation, ui, errors).Run();
    ui.Finished(operation);
    return ok;
}

}  // namespace quorvel::platform
