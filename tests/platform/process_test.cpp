#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace quorvel::platform {
namespace {

using Words = std::vector<std::string>;

TEST(SplitShellWordsTest, BlanksSeparateWords) {
    EXPECT_EQ(SplitShellWords(""), Words{});
    EXPECT_EQ(SplitShellWords(" \t\n "), Words{});
    EXPECT_EQ(SplitShellWords("a  b\tc\nd"), (Words{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitShellWords("  lead trail  "), (Words{"lead", "trail"}));
}

TEST(SplitShellWordsTest, Quotes) {
    EXPECT_EQ(SplitShellWords("'a b' \"c d\""), (Words{"a b", "c d"}));
    EXPECT_EQ(SplitShellWords("x'a b'y\"c\"z"), (Words{"xa bycz"}));
    EXPECT_EQ(SplitShellWords("'' \"\""), (Words{"", ""}));
    EXPECT_EQ(SplitShellWords("'it'\\''s'"), (Words{"it's"}));
    EXPECT_EQ(SplitShellWords("\"it's\""), (Words{"it's"}));
    EXPECT_EQ(SplitShellWords("'a\\b'"), (Words{"a\\b"}));
    EXPECT_EQ(SplitShellWords("'two\nlines'"), (Words{"two\nlines"}));
    EXPECT_EQ(SplitShellWords("'unclosed rest"), (Words{"unclosed rest"}));
    EXPECT_EQ(SplitShellWords("\"unclosed rest"), (Words{"unclosed rest"}));
}

TEST(SplitShellWordsTest, Backslashes) {
    EXPECT_EQ(SplitShellWords("a\\ b"), (Words{"a b"}));
    EXPECT_EQ(SplitShellWords("\\'x"), (Words{"'x"}));
    EXPECT_EQ(SplitShellWords("a\\\nb"), (Words{"ab"}));
    EXPECT_EQ(SplitShellWords("end\\"), (Words{"end\\"}));
    // Inside double quotes only $ ` " \ and a line feed are escaped.
    EXPECT_EQ(SplitShellWords("\"a\\\"b\\\\c\\$d\\`e\\nf\""), (Words{"a\"b\\c$d`e\\nf"}));
}

TEST(SplitShellWordsTest, NothingIsSubstituted) {
    EXPECT_EQ(SplitShellWords("$(touch x) `id` $HOME * ? [a] ~ {a,b} a;b a|b a&b >f"),
              (Words{"$(touch", "x)", "`id`", "$HOME", "*", "?", "[a]", "~", "{a,b}", "a;b", "a|b",
                     "a&b", ">f"}));
    EXPECT_EQ(SplitShellWords("\"$HOME\""), (Words{"$HOME"}));
    EXPECT_EQ(SplitShellWords("bad\xff\xfe"), (Words{"bad\xff\xfe"}));
}

TEST(ExpandEnvironmentReferencesTest, Variables) {
    ::setenv("QV_ENV_A", "alpha", 1);
    ::unsetenv("QV_ENV_UNSET");
    EXPECT_EQ(ExpandEnvironmentReferences("$QV_ENV_A/x"), "alpha/x");
    EXPECT_EQ(ExpandEnvironmentReferences("${QV_ENV_A}beta"), "alphabeta");
    EXPECT_EQ(ExpandEnvironmentReferences("$QV_ENV_Abeta"), "");
    EXPECT_EQ(ExpandEnvironmentReferences("[$QV_ENV_UNSET]"), "[]");
    EXPECT_EQ(ExpandEnvironmentReferences("cost $5 $ $"), "cost $5 $ $");
    EXPECT_EQ(ExpandEnvironmentReferences("${QV_ENV_A"), "${QV_ENV_A");
    EXPECT_EQ(ExpandEnvironmentReferences("${}"), "${}");
    EXPECT_EQ(ExpandEnvironmentReferences("no refs"), "no refs");
}

TEST(ExpandEnvironmentReferencesTest, LeadingTilde) {
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    ::setenv("HOME", "/home/tester", 1);
    EXPECT_EQ(ExpandEnvironmentReferences("~/bin/x"), "/home/tester/bin/x");
    EXPECT_EQ(ExpandEnvironmentReferences("~"), "/home/tester");
    EXPECT_EQ(ExpandEnvironmentReferences("~other/x"), "~other/x");
    EXPECT_EQ(ExpandEnvironmentReferences("a~/x"), "a~/x");
    if (oldHome) {
        ::setenv("HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

class ProcessTest : public test::TempDirTest {
protected:
    std::string Script(const std::string& name, const std::string& body) {
        std::string path = m_dir.Write(name, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
};

TEST_F(ProcessTest, FindExecutable) {
    EXPECT_EQ(FindExecutable("/bin/sh"), "/bin/sh");
    auto sh = FindExecutable("sh");
    ASSERT_TRUE(sh);
    EXPECT_EQ(sh->front(), '/');
    EXPECT_FALSE(FindExecutable(""));
    EXPECT_FALSE(FindExecutable("quorvel-no-such-command-anywhere"));
    EXPECT_FALSE(FindExecutable(m_dir.Path().string()));  // a directory
    std::string plain = m_dir.Write("plain.txt", "text");
    EXPECT_FALSE(FindExecutable(plain));
    std::string tool = Script("sub/tool", "exit 0\n");
    EXPECT_EQ(FindExecutable("sub/tool", m_dir.Path().string()), tool);
    EXPECT_EQ(FindExecutable("./tool", (m_dir / "sub")), m_dir.Path().string() + "/sub/./tool");
}

TEST_F(ProcessTest, SpawnWaitAndExitCode) {
    ChildProcess child = Spawn("/bin/sh", {"sh", "-c", "exit 7"});
    ASSERT_TRUE(child);
    EXPECT_TRUE(child.Wait());
    EXPECT_TRUE(child.Ended());
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_FALSE(child.TermSignal());
    EXPECT_TRUE(child.Wait(std::chrono::milliseconds(0)));  // stays ended
}

TEST_F(ProcessTest, TimedWaitAndTerminate) {
    ChildProcess child = Spawn("/bin/sleep", {"sleep", "100"});
    ASSERT_TRUE(child);
    EXPECT_FALSE(child.Wait(std::chrono::milliseconds(20)));
    EXPECT_FALSE(child.Ended());
    child.Terminate();
    EXPECT_TRUE(child.Ended());
    EXPECT_EQ(child.TermSignal(), 9);
    child.Terminate();  // harmless once ended
}

TEST_F(ProcessTest, NewProcessGroup) {
    ChildProcess child = Spawn("/bin/sh", {"sh", "-c", "ps -o pgid= -p $$ > \"$0\"", m_dir / "g"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child.Wait());
    std::string text = test::ReadFile(m_dir / "g");
    if (text.empty()) {
        GTEST_SKIP() << "ps is not available";
    }
    EXPECT_EQ(std::stoi(text), child.Pid());
}

TEST_F(ProcessTest, NothingStartsForUnknownCommands) {
    EXPECT_FALSE(Spawn(m_dir / "missing", {"missing"}));
    EXPECT_FALSE(ShellExecute("", "x", "", ShowMode::Normal));
    EXPECT_FALSE(ShellExecute("quorvel-no-such-command-anywhere", "", "", ShowMode::Normal));
    EXPECT_FALSE(ShellExecute(m_dir / "missing.pdf", "", "", ShowMode::Normal));
}

TEST_F(ProcessTest, DocumentsFoldersAndUrlsGoToTheOpener) {
    // A recording opener first in PATH stands in for the desktop's one.
    Script("bin/xdg-open", "printf '%s\\n' \"$#\" \"$1\" >> \"$QV_OPENED\"\n");
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    ::setenv("PATH", ((m_dir / "bin") + ":" + savedPath).c_str(), 1);
    ::setenv("QV_OPENED", (m_dir / "opened.txt").c_str(), 1);
    std::string doc = m_dir.Write("report; rm -rf x.pdf", "%PDF");

    auto open = [](std::string_view command, std::string_view dir) {
        ChildProcess child = ShellExecute(command, "ignored params", dir, ShowMode::Hidden);
        return child && child.Wait() && child.ExitCode() == 0;
    };
    EXPECT_TRUE(open(doc, ""));
    EXPECT_TRUE(open("report; rm -rf x.pdf", m_dir.Path().string()));  // relative to Dir
    EXPECT_TRUE(open(m_dir.Path().string(), ""));
    EXPECT_TRUE(open("https://example.org/a?b=c&d", ""));
    EXPECT_FALSE(open(m_dir / "missing.pdf", ""));
    ::setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(test::ReadFile(m_dir / "opened.txt"), "1\n" + doc + "\n1\n" + doc + "\n1\n" +
                                                        m_dir.Path().string() +
                                                        "\n1\nhttps://example.org/a?b=c&d\n");
}

TEST_F(ProcessTest, MovedHandleKeepsTheChild) {
    ChildProcess a = Spawn("/bin/sh", {"sh", "-c", "exit 3"});
    ChildProcess b = std::move(a);
    EXPECT_FALSE(a.Valid());
    ASSERT_TRUE(b.Valid());
    ChildProcess c;
    c = std::move(b);
    EXPECT_TRUE(c.Wait());
    EXPECT_EQ(c.ExitCode(), 3);
}

}  // namespace
}  // namespace quorvel::platform
