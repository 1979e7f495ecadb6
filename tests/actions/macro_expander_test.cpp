#include "actions/macro_expander.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "actions/date_format.h"
#include "platform/paths.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

DateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::FromParts(y, mo, d, h, mi, s);
}

FileData Record(std::string name, FileKind kind = FileKind::Changed) {
    return FileData(std::move(name), At(2002, 6, 15, 14, 30, 5), 1234567, kind);
}

FileData WindowsRecord() {
    return Record("C:\\logs\\app\\error.log");
}
// A path written with "/" in the platform's own separators: "Name" and
// "Path" split at those.
std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', platform::kPathSeparator);
    return path;
}
FileData NativeRecord() {
    return Record(Native("/logs/app/error.log"));
}
FileData PosixRecord() {
    return Record("/logs/app/error.log");
}

struct Example {
    const char* text;
    const char* expected;
};

TEST(MacroExpanderTest, WorkedExamplesOfOneRecord) {
    const Example examples[] = {
        {"%File", "C:\\logs\\app\\error.log"},
        {"%FILE=\"N.E\"", "error.log"},
        {"%File=\"DP\\\\N.E\"", "C:\\logs\\app\\error.log"},
        {"%File=\"DP\\N.E\"", "C:\\logs\\apperror.log"},
        {"%File=\"'copy of 'N\"", "copy of error"},
        {"%File=\"S:2\"", "\\app"},
        {"%File=\"RDP\"", "C:/logs/app"},
        {"%Size, %Size=\",\", %Size=\"K.\", %Size=\"M\"", "1234567, 1,234,567, 1.205, 1"},
        {"%Time=\"yyyy-mm-dd hh:nn:ss\"", "2002-06-15 14:30:05"},
        {"%Added=\"new\"", ""},
        {"%Chr=\"13\"%Chr=\"10\"", "\r\n"},
        {"%Substring=\"1,5,%File=\"N\"\"", "error"},
        {"100%%", "100%"},
        {"%Filename", "C:\\logs\\app\\error.logname"},
        {"50% off", "50 off"},
    };
    const FileData record = WindowsRecord();
    for (const Example& e : examples) {
        EXPECT_EQ(ExpandRecord(record, e.text), e.expected) << e.text;
    }
    // Name and Path split at the platform's separator only.
    if (platform::kPathSeparator == '\\') {
        EXPECT_EQ(ExpandRecord(record, "%Name and %Path"), "error.log and C:\\logs\\app");
    } else {
        EXPECT_EQ(ExpandRecord(record, "%Name and %Path"), "C:\\logs\\app\\error.log and ");
    }
}

TEST(MacroExpanderTest, SameRulesWithForwardSlashes) {
    const Example examples[] = {
        {"%File", "/logs/app/error.log"},
        {"%File=\"N.E\"", "error.log"},
        {"%File=\"DP/N.E\"", "/logs/app/error.log"},
        {"%File=\"D\"", ""},
        {"%File=\"S:1\"", "/logs/app"},
        {"%File=\"S:2\"", "/app"},
        {"%File=\"S:3\"", ""},
        {"%File=\"RDP\"", "/logs/app"},
        {"%Name and %Path", "error.log and /logs/app"},
        {"%Changed=\"changed: \"%Name", "changed: error.log"},
        {"%Substring=\"1,5,%Name\"", "error"},
    };
    const FileData record = PosixRecord();
    for (const Example& e : examples) {
        if (test::OnWindows() && std::string_view(e.text).find("%Name") != std::string_view::npos) {
            continue;  // Name and Path split at "\" there
        }
        EXPECT_EQ(ExpandRecord(record, e.text), e.expected) << e.text;
    }
}

TEST(MacroExpanderTest, TextWithoutPercentIsReturnedUnchanged) {
    EXPECT_EQ(ExpandRecord(WindowsRecord(), "plain \"text\" \\ here"), "plain \"text\" \\ here");
    EXPECT_EQ(ExpandRecord(WindowsRecord(), ""), "");
}

TEST(MacroExpanderTest, NamesAreTriedInTableOrderAndMatchAsPrefixes) {
    const FileData record = NativeRecord();
    EXPECT_EQ(ExpandRecord(record, "%NAMEs"), "error.logs");
    EXPECT_EQ(ExpandRecord(record, "%pathx"), Native("/logs/appx"));
    // "Size" is tried before "SysDate"; neither hides the other.
    EXPECT_EQ(ExpandRecord(record, "%SysDate=\"'ok'\""), "ok");
    EXPECT_EQ(ExpandRecord(record, "%Sizes"), "1234567s");
    // Unknown names: the percent sign goes, the rest stays.
    EXPECT_EQ(ExpandRecord(record, "%Unknown"), "Unknown");
    EXPECT_EQ(ExpandRecord(record, "%)"), ")");
    EXPECT_EQ(ExpandRecord(record, "a%(b"), "ab");
    EXPECT_EQ(ExpandRecord(record, "%%%"), "%");
    EXPECT_EQ(ExpandRecord(record, "%%%%"), "%%");
}

TEST(MacroExpanderTest, PercentAtTheEndVanishes) {
    const FileData record = WindowsRecord();
    EXPECT_EQ(ExpandRecord(record, "%"), "");
    EXPECT_EQ(ExpandRecord(record, "abc%"), "abc");
    EXPECT_EQ(ExpandRecord(record, "%Changed=\"x%"), "x");
    EXPECT_EQ(ExpandRecord(record, "%Changed="), "=");
    EXPECT_EQ(ExpandRecord(record, "%Changed=\""), "");
}

TEST(MacroExpanderTest, ParametersHoldEscapesAndNestedMacros) {
    const FileData record = NativeRecord();
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="a\"b\\c\d")"), "a\"b\\cd");
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="[%Name]")"), "[error.log]");
    // A nested macro with a parameter of its own.
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="<%Time="yyyy">" tail)"), "<2002> tail");
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="%Changed="%Changed="deep"""!)"), "deep!");
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="50%% off")"), "50% off");
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="50% off")"), "50 off");
    // A quote nested in a File format through an escape.
    EXPECT_EQ(ExpandRecord(record, R"(%File="\"copy of \"N")"), "copy of error");
    // An unterminated parameter runs to the end of the text.
    EXPECT_EQ(ExpandRecord(record, R"(%Changed="open %Name)"), "open error.log");
    EXPECT_EQ(ExpandRecord(record, "%Changed=\"trailing\\"), "trailing");
    // A parameter given to a macro that takes none is read and ignored.
    EXPECT_EQ(ExpandRecord(record, R"(%Name="ignored"!)"), "error.log!");
    EXPECT_EQ(ExpandRecord(record, R"(%%="x"y)"), "%y");
    // "=" without a quote is not a parameter.
    EXPECT_EQ(ExpandRecord(record, "%Name=x"), "error.log=x");
}

TEST(MacroExpanderTest, KindMacrosFollowTheRecordsKind) {
    const char* text = R"(%Added="A"%Changed="C"%Deleted="D")";
    EXPECT_EQ(ExpandRecord(Record("x", FileKind::Added), text), "A");
    EXPECT_EQ(ExpandRecord(Record("x", FileKind::Changed), text), "C");
    EXPECT_EQ(ExpandRecord(Record("x", FileKind::Deleted), text), "D");
    EXPECT_EQ(ExpandRecord(Record("x", FileKind::Old), text), "");
    EXPECT_EQ(ExpandRecord(Record("x", FileKind::None), text), "");
}

TEST(MacroExpanderTest, FileFormatElements) {
    const FileData record = WindowsRecord();
    const Example examples[] = {
        {"%File=\"d|p|n|e\"", "C:|\\logs\\app|error|log"},
        {"%File=\"S:1\"", "\\logs\\app"},
        {"%File=\"S:3\"", ""},
        {"%File=\"S:0\"", ""},
        {"%File=\"S:\"", ""},
        {"%File=\"S:99999999999999999999999\"", ""},
        {"%File=\"SN\"", "error"},
        {"%File=\"s:2N\"", "\\apperror"},
        {"%File=\"'a\\\"b'\"", "a\"b"},
        {"%File=\"'1-N\"", "'1-error"},
        {"%File=\"'D'D\"", "DC:"},
        {"%File=\"xyz\"", "xyz"},
        {"%File=\"P'\\\\x'r\"", "/logs/app/x"},
        {"%File=\"\"", "C:\\logs\\app\\error.log"},
    };
    for (const Example& e : examples) {
        EXPECT_EQ(ExpandRecord(record, e.text), e.expected) << e.text;
    }
}

TEST(MacroExpanderTest, FileFormatOfUnusualNames) {
    EXPECT_EQ(ExpandRecord(Record("C:\\a.b\\file"), "%File=\"N|E\""), "file|");
    EXPECT_EQ(ExpandRecord(Record("archive.tar.gz"), "%File=\"D|P|N|E\""), "||archive.tar|gz");
    EXPECT_EQ(ExpandRecord(Record("C:\\root.txt"), "%File=\"D|P|N|E|S:1\""), "C:||root|txt|");
    EXPECT_EQ(ExpandRecord(Record("/root.txt"), "%File=\"P|N\""), "|root");
    EXPECT_EQ(ExpandRecord(Record(".hidden"), "%File=\"N|E\""), "|hidden");
    EXPECT_EQ(ExpandRecord(Record("\\\\server\\share\\f.txt"), "%File=\"P|S:2|S:3\""),
              "\\\\server\\share|\\server\\share|\\share");
    EXPECT_EQ(ExpandRecord(Record("logs\\app\\x.txt"), "%File=\"P|S:1\""), "logs\\app|\\app");
    // Both separators count on every platform.
    EXPECT_EQ(ExpandRecord(Record("C:\\logs/app\\x.txt"), "%File=\"P|S:2|N\""),
              "\\logs/app|/app|x");
    // A colon after a non-letter is not a drive.
    EXPECT_EQ(ExpandRecord(Record("1:/x.txt"), "%File=\"D|P\""), "|1:");
    // No record name behaves as an empty name.
    const FileData none(std::nullopt, DateTime(0.0), 0, FileKind::Changed);
    EXPECT_EQ(ExpandRecord(none, "[%File][%Name][%Path][%File=\"DPNE\"]"), "[][][][]");
}

TEST(MacroExpanderTest, NameAndPathSplitAtThePlatformSeparatorOnly) {
    if (platform::kPathSeparator == '/') {
        // A backslash is an ordinary character of a name here.
        EXPECT_EQ(ExpandRecord(Record("/a/x\\y.txt"), "%Name|%Path"), "x\\y.txt|/a");
        EXPECT_EQ(ExpandRecord(Record("/a/x\\y.txt"), "%File=\"N.E\""), "y.txt");
    }
    EXPECT_EQ(ExpandRecord(Record("plain.txt"), "%Name|%Path"), "plain.txt|");
    EXPECT_EQ(ExpandRecord(Record(Native("/top")), "%Name|%Path"), "top|");
    EXPECT_EQ(ExpandRecord(Record(Native("dir/")), "%Name|%Path"), "|dir");
}

TEST(MacroExpanderTest, SizeFormats) {
    auto size = [](std::int64_t bytes, const char* format) {
        FileData r = Record("x");
        r.size = bytes;
        return ExpandRecord(r, std::string("%Size=\"") + format + "\"");
    };
    EXPECT_EQ(size(1234567, ""), "1234567");
    EXPECT_EQ(size(1234567, "b"), "1234567");
    EXPECT_EQ(size(1234567, "B "), "1 234 567");
    EXPECT_EQ(size(1234567, "k"), "1205");
    EXPECT_EQ(size(1234567, "m,"), "1");
    EXPECT_EQ(size(5LL * 1073741824 + 7, "G"), "5");
    EXPECT_EQ(size(1073741823, "g"), "0");
    EXPECT_EQ(size(0, ","), "0");
    EXPECT_EQ(size(999, ","), "999");
    EXPECT_EQ(size(1000, ","), "1,000");
    EXPECT_EQ(size(123456, "."), "123.456");
    EXPECT_EQ(size(9223372036854775807LL, ","), "9,223,372,036,854,775,807");
    EXPECT_EQ(size(-1234567, ","), "-1,234,567");
    EXPECT_EQ(size(-9223372036854775807LL - 1, ""), "-9223372036854775808");
    // Only one separator character is used; a multi-byte character stays whole.
    EXPECT_EQ(size(1234567, ",;"), "1,234,567");
    EXPECT_EQ(size(1234567, "K\xE2\x80\x99x"),
              "1\xE2\x80\x99"
              "205");
}

TEST(MacroExpanderTest, SubstringEdgeCases) {
    const FileData record = WindowsRecord();
    const Example examples[] = {
        {"%Substring=\"2,3,abcdef\"", "bcd"},
        {"%Substring=\"0,3,abcdef\"", "abc"},
        {"%Substring=\"-5,2,abcdef\"", "ab"},
        {"%Substring=\"2,-1,abcdef\"", ""},
        {"%Substring=\"5,100,abcdef\"", "ef"},
        {"%Substring=\"7,1,abcdef\"", ""},
        {"%Substring=\"x,2,abcdef\"", "ab"},
        {"%Substring=\"1,2,ab,cd\"", "ab"},
        {"%Substring=\"1,2,\"", ""},
        {"%Substring=\"1,2\"", ""},
        {"%Substring=\"1\"", ""},
        {"%Substring", ""},
        {"%Substring=\"99999999999999999999999,5,abc\"", ""},
        {"%Substring=\"1,99999999999999999999999,abc\"", "abc"},
        {"%Substring=\"-99999999999999999999999,-99999999999999999999999,abc\"", ""},
        {"%Substring=\"9223372036854775807,9223372036854775807,abc\"", ""},
        // Characters, not bytes.
        {"%Substring=\"2,2,\xC3\xA4\xC3\xB6\xC3\xBC\"", "\xC3\xB6\xC3\xBC"},
    };
    for (const Example& e : examples) {
        EXPECT_EQ(ExpandRecord(record, e.text), e.expected) << e.text;
    }
}

TEST(MacroExpanderTest, ChrTakesTheLowEightBits) {
    const FileData record = WindowsRecord();
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"65\""), "A");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\" 66xyz\""), "B");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"321\""), "A");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"-191\""), "A");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"255\""), "\xFF");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"0\""), "");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"256\""), "");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"x65\""), "");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"\""), "");
    EXPECT_EQ(ExpandRecord(record, "%Chr"), "");
    EXPECT_EQ(ExpandRecord(record, "%Chr=\"99999999999999999999999\""), "\xFF");
}

TEST(MacroExpanderTest, TimeMacros) {
    FileData record = WindowsRecord();
    record.runTime = At(2003, 1, 2, 3, 4, 5);
    EXPECT_EQ(ExpandRecord(record, "%Time"), "15.06.2002 14:30:05");
    EXPECT_EQ(ExpandRecord(record, "%Time=\"\""), "15.06.2002 14:30:05");
    EXPECT_EQ(ExpandRecord(record, "%RunTime=\"yyyy-mm-dd hh:nn:ss\""), "2003-01-02 03:04:05");
    record.time = DateTime(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(ExpandRecord(record, "<%Time=\"yyyy\">"), "<[time]>");
    record.time = DateTime(1e300);
    EXPECT_EQ(ExpandRecord(record, "<%Time>"), "<[time]>");
}

TEST(MacroExpanderTest, SysDateIsTheCurrentTime) {
    const char* format = "%SysDate=\"yyyymmddhhnnss\"";
    const std::string before = FormatDateTime("yyyymmddhhnnss", DateTime::Now());
    const std::string now = ExpandRecord(WindowsRecord(), format);
    const std::string after = FormatDateTime("yyyymmddhhnnss", DateTime::Now());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(MacroExpanderTest, EnvironmentReadsTheProcessEnvironment) {
    test::ScopedEnv guard("QUORVEL_MACRO_TEST", "value 1");
    const FileData record = WindowsRecord();
    EXPECT_EQ(ExpandRecord(record, "[%Environment=\"QUORVEL_MACRO_TEST\"]"), "[value 1]");
    EXPECT_EQ(ExpandRecord(record, "[%Environment=\"QUORVEL_MACRO_UNSET_VARIABLE\"]"), "[]");
    EXPECT_EQ(ExpandRecord(record, "[%Environment]"), "[]");
    EXPECT_EQ(ExpandRecord(record, "[%Environment=\"QUORVEL_MACRO_TEST=x\"]"), "[]");
    {
        test::ScopedEnv longest("QUORVEL_MACRO_LONG", std::string(8192, 'v'));
        EXPECT_EQ(ExpandRecord(record, "%Environment=\"QUORVEL_MACRO_LONG\""),
                  std::string(8192, 'v'));
    }
    {
        test::ScopedEnv tooLong("QUORVEL_MACRO_LONG", std::string(8193, 'v'));
        EXPECT_EQ(ExpandRecord(record, "%Environment=\"QUORVEL_MACRO_LONG\""), "");
    }
}

// A path as a macro parameter: its backslashes escaped.
std::string Escaped(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

class MacroIncludeTest : public test::TempDirTest {};

TEST_F(MacroIncludeTest, IncludeReadsTheWholeFileWithLineFeeds) {
    // A byte order mark is skipped, CR LF becomes LF, a lone CR stays.
    const std::string path = m_dir.Write("part.txt",
                                         "\xEF\xBB\xBFone\r\ntwo\rthree\n\x1A"
                                         "after\r\n");
    const FileData record = WindowsRecord();
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"" + Escaped(path) + "\"]"),
              "[one\ntwo\rthree\n\x1A"
              "after\n]");
    // The path itself may come from macros.
    EXPECT_EQ(ExpandRecord(Record(path), "%Include=\"%File\""),
              "one\ntwo\rthree\n\x1A"
              "after\n");
}

TEST_F(MacroIncludeTest, IncludeInsideAParameterIsCutAtOneMebibyte) {
    const std::string big = m_dir.Write("big.txt", std::string(3 << 20, 'b'));
    const FileData record = WindowsRecord();
    const std::string nested =
        ExpandRecord(record, "%Changed=\"%Include=\"" + Escaped(big) + "\"\"");
    EXPECT_EQ(nested.size(), std::size_t{1} << 20);
    // At the top the whole file goes in.
    EXPECT_EQ(ExpandRecord(record, "%Include=\"" + Escaped(big) + "\"").size(),
              std::size_t{3} << 20);
}

TEST_F(MacroIncludeTest, IncludeOfWhatCannotBeReadGivesNothing) {
    const FileData record = WindowsRecord();
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"" + (m_dir / "missing.txt") + "\"]"), "[]");
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"" + m_dir.Path().string() + "\"]"), "[]");
    EXPECT_EQ(ExpandRecord(record, "[%Include]"), "[]");
    // Devices are not read: they could block or never end.
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"/dev/zero\"]"), "[]");
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"/dev/null\"]"), "[]");
    const std::string empty = m_dir.Write("empty.txt", "");
    EXPECT_EQ(ExpandRecord(record, "[%Include=\"" + empty + "\"]"), "[]");
}

// n levels of %Changed="..." around an x, then "tail".
std::string Nested(int levels, const std::string& inner = "x") {
    std::string text;
    for (int i = 0; i < levels; ++i) {
        text += "%Changed=\"";
    }
    text += inner;
    text.append(static_cast<std::size_t>(levels), '"');
    return text + "tail";
}

TEST(MacroExpanderTest, DeepNestingIsBounded) {
    const FileData record = WindowsRecord();
    // Up to 64 levels expand; deeper macros expand to nothing, and the walk
    // still resumes after their closing quotes.
    EXPECT_EQ(ExpandRecord(record, Nested(1)), "xtail");
    EXPECT_EQ(ExpandRecord(record, Nested(64)), "xtail");
    EXPECT_EQ(ExpandRecord(record, Nested(65)), "tail");
    EXPECT_EQ(ExpandRecord(record, Nested(100000)), "tail");
    EXPECT_EQ(ExpandRecord(record, Nested(100, R"(a\"b %Time="y\"y" %% %Name)")), "tail");
    // Unterminated at every level.
    std::string open;
    for (int i = 0; i < 100000; ++i) {
        open += "%Changed=\"";
    }
    EXPECT_TRUE(ExpandRecord(record, open + "%").empty());
    EXPECT_TRUE(ExpandRecord(record, open + "\\").empty());
    const std::string percents(200000, '%');
    EXPECT_TRUE(ExpandRecord(record, percents) == std::string(100000, '%'));
}

TEST(MacroExpanderTest, FormatsNestedInFormatsStayBounded) {
    // Every letter of a File or Time format becomes a whole part of a name or
    // a date, so each level multiplies the text; parameters are cut at 1 MiB.
    const FileData record = WindowsRecord();
    for (const char* macro : {"%File=\"", "%Time=\""}) {
        std::string text;
        // Unbounded, 26 levels of File formats would make over 100 MiB.
        for (int i = 0; i < 26; ++i) {
            text += macro;
        }
        text += "PNEdddddd";
        text.append(26, '"');
        const std::string result = ExpandRecord(record, text);
        EXPECT_FALSE(result.empty()) << macro;
        EXPECT_LE(result.size(), std::size_t{8} << 20) << macro;
    }
}

FileList ThreeRecords() {
    return {Record(Native("/d/a"), FileKind::Added), Record(Native("/d/b"), FileKind::Changed),
            Record(Native("/d/c"), FileKind::Deleted)};
}

TEST(MacroExpanderListTest, WorkedExamplesOfLists) {
    const FileList files = ThreeRecords();
    const DateTime run = At(2010, 1, 1, 12);

    auto r = ExpandList(files, run, "%(%Name %)", 0, 0);
    EXPECT_EQ(r.text, "a b c ");
    EXPECT_EQ(r.used, 3);

    r = ExpandList(files, run, "%Name", 0, 0);
    EXPECT_EQ(r.text, "a");
    EXPECT_EQ(r.used, 3);

    r = ExpandList(files, run, "%(%Name %)", 2, 5);
    EXPECT_EQ(r.text, "c ");
    EXPECT_EQ(r.used, 1);

    r = ExpandList(files, run, "%(%Name %)", 3, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.used, 1);

    r = ExpandList(files, run, "[%(%Name,", 0, 0);
    EXPECT_EQ(r.text, "[a,b,c,");
    EXPECT_EQ(r.used, 3);
}

TEST(MacroExpanderListTest, EmptyListExpandsAgainstThePlaceholder) {
    const FileList none;
    const DateTime run = At(2010, 1, 1, 12);
    const std::string placeholder = PlaceholderName(platform::kPathSeparator);
    EXPECT_EQ(PlaceholderName('\\'), "[D:]\\[P]\\[N].[E]");

    auto r = ExpandList(none, run, "%File", 0, 0);
    EXPECT_EQ(r.text, placeholder);
    EXPECT_EQ(r.used, 1);

    r = ExpandList(none, run, "%(%Name%)", 0, 0);
    EXPECT_EQ(r.text, "[N].[E]");
    EXPECT_EQ(r.used, 1);

    r = ExpandList(none, run, "%(<%File=\"N|E|S:1\">%) %Size %Time=\"yyyy-mm-dd\"", 0, 3);
    EXPECT_EQ(r.text, "<[N]|[E]|" + std::string(1, platform::kPathSeparator) + "[P]> 0 1899-12-29");

    r = ExpandList(none, run, "%RunTime=\"yyyy\"%Changed=\"x\"", 0, 0);
    EXPECT_EQ(r.text, "2010");

    r = ExpandList(none, run, "%Name", 1, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.used, 1);
}

TEST(MacroExpanderListTest, RangesAndCounts) {
    const FileList files = ThreeRecords();
    const DateTime run = At(2010, 1, 1, 12);
    auto r = ExpandList(files, run, "%(%Name%)", 1, 1);
    EXPECT_EQ(r.text, "b");
    EXPECT_EQ(r.used, 1);
    r = ExpandList(files, run, "%(%Name%)", 1, 2);
    EXPECT_EQ(r.text, "bc");
    EXPECT_EQ(r.used, 2);
    r = ExpandList(files, run, "%(%Name%)", 1, -7);
    EXPECT_EQ(r.text, "bc");
    EXPECT_EQ(r.used, 2);
    r = ExpandList(files, run, "%(%Name%)", 0, 2147483647);
    EXPECT_EQ(r.text, "abc");
    EXPECT_EQ(r.used, 3);
    r = ExpandList(files, run, "%(%Name%)", -1, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.used, 1);
    r = ExpandList(files, run, "%(%Name%)", 2147483647, 2147483647);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.used, 1);
    r = ExpandList(files, run, "no macros", 1, 0);
    EXPECT_EQ(r.text, "no macros");
    EXPECT_EQ(r.used, 2);
}

TEST(MacroExpanderListTest, SectionsSingleAndRepeating) {
    const FileList files = ThreeRecords();
    const DateTime run = At(2010, 1, 1, 12);
    // Single sections run to the next repeating one and use the first record.
    auto r = ExpandList(files, run, "cmd %Name %Path%(%Name;%) end %Name", 1, 0);
    EXPECT_EQ(r.text, "cmd b " + Native("/d") + "b;c; end b");
    // Two repeating sections, each over the whole range.
    r = ExpandList(files, run, "%(%Name%)-%(%Added=\"+\"%Changed=\"~\"%Deleted=\"-\"%)", 0, 0);
    EXPECT_EQ(r.text, "abc-+~-");
    // An empty repeating section and an unknown macro outside.
    r = ExpandList(files, run, "%(%)%Q", 0, 0);
    EXPECT_EQ(r.text, "Q");
    r = ExpandList(files, run, "%", 0, 0);
    EXPECT_EQ(r.text, "");
    r = ExpandList(files, run, "x%(", 0, 0);
    EXPECT_EQ(r.text, "x");
}

TEST(MacroExpanderListTest, RunTimeIsTheRunStartForEveryRecord) {
    FileList files = ThreeRecords();
    files[1].runTime = At(1999, 1, 1);
    const DateTime run = At(2010, 3, 4, 5, 6, 7);
    auto r = ExpandList(files, run, "%(%RunTime=\"yyyy-mm-dd hh:nn:ss\";%)", 0, 0);
    EXPECT_EQ(r.text, "2010-03-04 05:06:07;2010-03-04 05:06:07;2010-03-04 05:06:07;");
}

TEST(MacroExpanderListTest, ConcurrentExpansionsAgree) {
    FileList files;
    for (int i = 0; i < 200; ++i) {
        files.push_back(
            Record("/data/dir" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".txt",
                   static_cast<FileKind>(i % 4)));
        files.back().size = i * 1000;
    }
    const DateTime run = At(2010, 1, 1, 12);
    const std::string text =
        "%(%File=\"RP|N|E|S:2\" %Size=\"K,\" %Time=\"dddd d mmmm yyyy h:nn am/pm\" "
        "%Changed=\"%Substring=\"2,3,%Name\"\"%Chr=\"10\"%)%Name";
    const std::string expected = ExpandList(files, run, text, 0, 0).text;
    ASSERT_FALSE(expected.empty());
    std::vector<std::thread> threads;
    std::vector<int> mismatches(6, 0);
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 30; ++round) {
                if (ExpandList(files, run, text, 0, 0).text != expected) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int m : mismatches) {
        EXPECT_EQ(m, 0);
    }
}

}  // namespace
}  // namespace quorvel
