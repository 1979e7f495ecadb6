#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include "dir_test_util.h"
#include "engine/cache_file.h"
#include "engine/snapshot.h"
#include "platform/file_system.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(PathKeyTest, IsTheStandardCrc32OfThePathBytes) {
    EXPECT_EQ(PathKey("123456789"), 0xCBF43926u);
    EXPECT_EQ(PathKey(""), 0u);
    // Letter case and spelling matter: another spelling is another file.
    EXPECT_NE(PathKey("/tmp/A"), PathKey("/tmp/a"));
    // The raw register steps compose to the same value.
    std::uint32_t reg = Crc32Step(0xFFFFFFFFu, "1234", 4);
    reg = Crc32Step(reg, "56789", 5);
    EXPECT_EQ(reg ^ 0xFFFFFFFFu, 0xCBF43926u);
}

// The lookup the index replaces: walk from the front, take the first entry
// with the key.
class NaiveOld {
public:
    explicit NaiveOld(const std::vector<std::uint32_t>& keys) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            m_entries.push_back({keys[i], i});
        }
    }
    std::size_t TakeFirst(std::uint32_t key) {
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->first == key) {
                const std::size_t pos = it->second;
                m_entries.erase(it);
                return pos;
            }
        }
        return Snapshot::npos;
    }
    std::vector<std::size_t> Left() const {
        std::vector<std::size_t> out;
        for (const auto& e : m_entries) {
            out.push_back(e.second);
        }
        return out;
    }

private:
    std::vector<std::pair<std::uint32_t, std::size_t>> m_entries;
};

TEST(SnapshotTest, IndexAnswersExactlyLikeTheWalkFromTheFront) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = rng() % 200;
        // Few distinct keys so that duplicates (equal keys) are common.
        const std::uint32_t keySpace = 1 + rng() % (round % 3 == 0 ? 8 : 400);
        std::vector<std::uint32_t> keys;
        Snapshot snapshot;
        for (std::size_t i = 0; i < n; ++i) {
            keys.push_back(rng() % keySpace);
            snapshot.Append(keys.back(), static_cast<double>(i), static_cast<std::int64_t>(i));
        }
        NaiveOld naive(keys);
        snapshot.BeginLookups();
        // Lookups in stored order first (no index), then anything.
        const std::size_t inOrder = n == 0 ? 0 : rng() % (n + 1);
        for (std::size_t i = 0; i < inOrder; ++i) {
            ASSERT_EQ(snapshot.TakeFirst(keys[i]), naive.TakeFirst(keys[i]));
        }
        const std::size_t lookups = rng() % (2 * n + 5);
        for (std::size_t i = 0; i < lookups; ++i) {
            const std::uint32_t key = rng() % (keySpace + 2);
            ASSERT_EQ(snapshot.TakeFirst(key), naive.TakeFirst(key)) << "round " << round;
        }
        std::vector<std::size_t> left;
        snapshot.ForEachLeft([&](std::size_t i) { left.push_back(i); });
        EXPECT_EQ(left, naive.Left());
        EXPECT_EQ(snapshot.LeftCount(), left.size());
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(snapshot.Present(i), std::find(left.begin(), left.end(), i) != left.end());
        }
    }
}

TEST(SnapshotTest, LookupsInStoredOrderBuildNoIndex) {
    Snapshot snapshot;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        snapshot.Append(i * 7919u, 1.0, 1);
    }
    snapshot.BeginLookups();
    for (std::uint32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(snapshot.TakeFirst(i * 7919u), i);
    }
    EXPECT_EQ(snapshot.IndexBytes(), 0u);
    EXPECT_EQ(snapshot.LeftCount(), 0u);
    EXPECT_EQ(snapshot.TakeFirst(0), Snapshot::npos);
}

TEST(SnapshotTest, NamesAreKeptOnlyWhereGiven) {
    Snapshot s;
    s.Append(1, 1.5, 10);
    EXPECT_FALSE(s.HasNames());
    s.Append(2, 2.5, 20, "/d/b");
    s.Append(3, 3.5, 30);
    EXPECT_EQ(s.NameAt(0), nullptr);
    ASSERT_NE(s.NameAt(1), nullptr);
    EXPECT_EQ(*s.NameAt(1), "/d/b");
    EXPECT_EQ(s.NameAt(2), nullptr);
    EXPECT_EQ(s.At(1), (File{2, 2.5, 20, std::string("/d/b")}));
    s.PopBack();
    s.PopBack();
    EXPECT_EQ(s.Size(), 1u);
    s.Append(4, 4.5, 40, "/d/c");
    EXPECT_EQ(*s.NameAt(1), "/d/c");
}

// ---- cache file ----

Snapshot ThreeWithoutNames() {
    Snapshot s;
    s.Append(0x11223344u, 45000.25, 1);
    s.Append(0xAABBCCDDu, -1.0, 0x0102030405060708LL);
    s.Append(7u, 0.0, -5);
    return s;
}

TEST(CacheFileTest, ThreeRecordsWithoutNamesTakeSixtySevenBytesInTheDocumentedLayout) {
    const std::string bytes = cache_file::Serialize(ThreeWithoutNames());
    ASSERT_EQ(bytes.size(), 67u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x03\x00\x00\x00", 4));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x44\x33\x22\x11", 4));
    double time = 0;
    std::memcpy(&time, bytes.data() + 8, 8);
    EXPECT_EQ(time, 45000.25);
    EXPECT_EQ(bytes.substr(16, 8), std::string("\x01\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(bytes[24], '\0');  // no name
    EXPECT_EQ(bytes.substr(25 + 12, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
}

TEST(CacheFileTest, RecordWithANameTakesTwentySixBytesPlusItsLength) {
    Snapshot s;
    s.Append(5, 1.0, 2, "/a/bc");
    const std::string bytes = cache_file::Serialize(s);
    ASSERT_EQ(bytes.size(), 4u + 26u + 5u);
    EXPECT_EQ(bytes[4 + 20], '\x01');
    EXPECT_EQ(bytes.substr(4 + 21, 4), std::string("\x05\0\0\0", 4));
    EXPECT_EQ(bytes.substr(4 + 25, 6), std::string("/a/bc\0", 6));
}

TEST(CacheFileTest, RoundTripKeepsEveryFieldAndTheOrder) {
    Snapshot s;
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        const double time = std::uniform_real_distribution<double>(-1, 80000)(rng);
        if (i % 3 == 0) {
            s.Append(rng(), time, static_cast<std::int64_t>(rng()) << 20,
                     "/dir/\xff\xfe name " + std::to_string(i));
        } else {
            s.Append(rng(), time, -static_cast<std::int64_t>(i));
        }
    }
    auto parsed = cache_file::Parse(cache_file::Serialize(s));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->snapshot.Size(), s.Size());
    for (std::size_t i = 0; i < s.Size(); ++i) {
        EXPECT_EQ(parsed->snapshot.At(i), s.At(i)) << i;
    }
    EXPECT_TRUE(parsed->recordWithoutName);
}

TEST(CacheFileTest, TellsWhenSomeRecordCarriesNoName) {
    auto parsed = cache_file::Parse(cache_file::Serialize(ThreeWithoutNames()));
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->recordWithoutName);
    Snapshot named;
    named.Append(1, 1.0, 1, "/a");
    named.Append(2, 2.0, 2, "/b");
    auto all = cache_file::Parse(cache_file::Serialize(named));
    ASSERT_TRUE(all);
    EXPECT_FALSE(all->recordWithoutName);
    auto empty = cache_file::Parse(std::string("\0\0\0\0", 4));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->snapshot.Size(), 0u);
    EXPECT_FALSE(empty->recordWithoutName);
}

TEST(CacheFileTest, NamesTooLongToReadBackAreWrittenWithout) {
    Snapshot s;
    s.Append(1, 1.0, 1, std::string(4095, 'a'));
    s.Append(2, 2.0, 2, std::string(4096, 'b'));
    s.Append(3, 3.0, 3, std::string(100000, 'c'));
    auto parsed = cache_file::Parse(cache_file::Serialize(s));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->snapshot.Size(), 3u);
    ASSERT_NE(parsed->snapshot.NameAt(0), nullptr);
    EXPECT_EQ(parsed->snapshot.NameAt(0)->size(), 4095u);
    EXPECT_EQ(parsed->snapshot.NameAt(1), nullptr);
    EXPECT_EQ(parsed->snapshot.NameAt(2), nullptr);
    EXPECT_EQ(parsed->snapshot.KeyAt(2), 3u);
}

TEST(CacheFileTest, AnyDamageDiscardsTheWholeCache) {
    Snapshot s;
    s.Append(1, 1.0, 1, "/x/y");
    s.Append(2, 2.0, 2);
    const std::string good = cache_file::Serialize(s);
    ASSERT_TRUE(cache_file::Parse(good));
    // Cut anywhere.
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        EXPECT_FALSE(cache_file::Parse(good.substr(0, cut))) << cut;
    }
    auto patched = [&](std::size_t at, std::string_view with) {
        std::string b = good;
        b.replace(at, with.size(), with);
        return b;
    };
    EXPECT_FALSE(cache_file::Parse(patched(0, std::string("\xff\xff\xff\x7f", 4))));  // huge
    EXPECT_FALSE(cache_file::Parse(patched(0, std::string("\x03\x00\x00\x00", 4))));  // one more
    EXPECT_FALSE(cache_file::Parse(patched(4 + 21, std::string("\x00\x10\x00\x00", 4))));  // 4096
    EXPECT_FALSE(cache_file::Parse(patched(4 + 25 + 4, "!")));                   // no closing zero
    EXPECT_FALSE(cache_file::Parse(patched(4 + 25 + 1, std::string("\0", 1))));  // zero inside
    EXPECT_FALSE(cache_file::Parse("garbage, not a cache at all"));
}

TEST(CacheFileTest, ReadsCountsFlagsAndTrailingBytesAsTheFormatSays) {
    Snapshot s;
    s.Append(1, 1.0, 1, "/x/y");
    s.Append(2, 2.0, 2);
    const std::string good = cache_file::Serialize(s);
    auto patched = [&](std::size_t at, std::string_view with) {
        std::string b = good;
        b.replace(at, with.size(), with);
        return b;
    };
    // A count of 0 or less is an empty snapshot: every file then counts as added.
    for (const char* count : {"\xff\xff\xff\xff", "\x00\x00\x00\x80"}) {
        auto empty = cache_file::Parse(patched(0, std::string(count, 4)));
        ASSERT_TRUE(empty);
        EXPECT_EQ(empty->snapshot.Size(), 0u);
    }
    // Bytes after the last record are not read.
    auto longer = cache_file::Parse(good + "x");
    ASSERT_TRUE(longer);
    EXPECT_EQ(longer->snapshot.Size(), 2u);
    // A flag other than 1 means no name, and what follows is the next record.
    std::string flag2 = cache_file::Serialize([] {
        Snapshot t;
        t.Append(1, 1.0, 1);
        t.Append(2, 2.0, 2);
        return t;
    }());
    flag2[4 + 20] = '\x02';
    auto noName = cache_file::Parse(flag2);
    ASSERT_TRUE(noName);
    ASSERT_EQ(noName->snapshot.Size(), 2u);
    EXPECT_EQ(noName->snapshot.NameAt(0), nullptr);
    EXPECT_EQ(noName->snapshot.KeyAt(1), 2u);
    EXPECT_TRUE(noName->recordWithoutName);
}

TEST(CacheFileTest, PathIsDirectoryIdentifierAndExtension) {
    EXPECT_EQ(cache_file::PathFor("/c", "0A1B2C3D"), "/c/0A1B2C3D.DAT");
    EXPECT_EQ(cache_file::PathFor("/c/", "x"), "/c/x.DAT");
    EXPECT_EQ(cache_file::PathFor("", "x"), "x.DAT");
}

TEST(CacheFileTest, NewIdentifiersAreEightUpperCaseHexDigitsAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string id = cache_file::NewId();
        ASSERT_EQ(id.size(), 8u);
        for (char c : id) {
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << id;
        }
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 190u);
}

class CacheFileDiskTest : public test::TempDirTest {};

TEST_F(CacheFileDiskTest, WritesPrivateFileInAPrivateNewDirectoryAndReadsItBack) {
    const std::string dir = m_dir / "a/cache";
    ASSERT_TRUE(cache_file::Write(dir, "ID", ThreeWithoutNames()));
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string file = cache_file::PathFor(dir, "ID");
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto back = cache_file::Read(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->snapshot.Size(), 3u);
    EXPECT_EQ(test::ReadFile(file), cache_file::Serialize(ThreeWithoutNames()));
    // Nothing but the cache is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_FALSE(cache_file::Read(m_dir / "missing.DAT"));
}

TEST_F(CacheFileDiskTest, LargeCachesRoundTrip) {
    Snapshot s;
    for (std::uint32_t i = 0; i < 200000; ++i) {
        s.Append(i * 2654435761u, i * 0.5, i);
    }
    ASSERT_TRUE(cache_file::Write(m_dir.Path().string(), "BIG", s));
    auto back = cache_file::Read(cache_file::PathFor(m_dir.Path().string(), "BIG"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->snapshot.Size(), s.Size());
    EXPECT_EQ(back->snapshot.At(199999), s.At(199999));
    EXPECT_EQ(fs::file_size(cache_file::PathFor(m_dir.Path().string(), "BIG")), 4u + 21u * 200000u);
}

TEST_F(CacheFileDiskTest, FileReadsAsItsBytesParseWholeOrCutAnywhere) {
    // Names of every length up to the longest, so records straddle the
    // pieces in which a file is read.
    Snapshot s;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        if (i % 3 == 0) {
            s.Append(i, i * 0.25, i);
        } else {
            s.Append(i, i * 0.25, i,
                     std::string(1 + (i * 37) % 4095, 'a' + static_cast<char>(i % 26)));
        }
    }
    const std::string dir = m_dir.Path().string();
    ASSERT_TRUE(cache_file::Write(dir, "CUT", s));
    const std::string file = cache_file::PathFor(dir, "CUT");
    const std::string bytes = test::ReadFile(file);
    ASSERT_GT(bytes.size(), 1u << 20);
    auto back = cache_file::Read(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(cache_file::Serialize(back->snapshot), bytes);
    EXPECT_TRUE(back->recordWithoutName);
    // Longest first: each cut leaves a prefix of the whole file.
    for (const std::size_t cut :
         {bytes.size() - 1, bytes.size() / 2 + 1, bytes.size() / 3, std::size_t{3}}) {
        fs::resize_file(file, cut);
        std::string why;
        EXPECT_FALSE(cache_file::Read(file, &why)) << cut;
        EXPECT_NE(why.find("damaged"), std::string::npos) << cut;
        EXPECT_FALSE(cache_file::Parse(std::string_view(bytes).substr(0, cut))) << cut;
    }
}

TEST(CacheFilePermissionTest, ReadOnlyCacheDirectoryKeepsTheOldCacheWhole) {
    if (!test::RunUnprivileged()) {
        return;
    }
    test::TempDir dir;
    const std::string cacheDir = dir / "cache";
    ASSERT_TRUE(cache_file::Write(cacheDir, "RO", ThreeWithoutNames()));
    const std::string before = test::ReadFile(cache_file::PathFor(cacheDir, "RO"));
    ASSERT_EQ(::chmod(cacheDir.c_str(), 0500), 0);
    Snapshot other;
    other.Append(9, 9.0, 9);
    EXPECT_FALSE(cache_file::Write(cacheDir, "RO", other));
    EXPECT_EQ(test::ReadFile(cache_file::PathFor(cacheDir, "RO")), before);
    EXPECT_FALSE(cache_file::Write(dir / "cache/sub", "NEW", other));
    ::chmod(cacheDir.c_str(), 0700);
}

}  // namespace
}  // namespace quorvel
