#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "actions/exec_action.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using Runs = std::vector<std::vector<std::string>>;

/// A stop flag the test can raise from another thread.
class StoppableControl : public RunControl {
public:
    bool StopRequested() const override { return stop.load(); }
    bool SleepFor(std::chrono::milliseconds) override { return !stop.load(); }
    std::atomic<bool> stop{false};
};

/// Fields of /proc/<pid>/stat: state and parent, or nothing when gone.
struct ProcStat {
    char state;
    long parent;
};

std::optional<ProcStat> ReadStat(const std::string& pid) {
    std::string text = test::ReadFile("/proc/" + pid + "/stat");
    std::size_t close = text.rfind(')');
    if (text.empty() || close == std::string::npos || close + 4 > text.size()) {
        return std::nullopt;
    }
    ProcStat stat{text[close + 2], std::strtol(text.c_str() + close + 4, nullptr, 10)};
    return stat;
}

bool Running(const std::string& pid) {
    auto stat = ReadStat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X';
}

long OurPid() {
    return std::stol(std::filesystem::read_symlink("/proc/self").string());
}

/// Children of ours that ended but were never collected.
int ZombieChildren() {
    const long self = OurPid();
    int zombies = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        auto stat = ReadStat(name);
        if (stat && stat->parent == self && stat->state == 'Z') {
            ++zombies;
        }
    }
    return zombies;
}

class ExecActionTest : public test::TempDirTest {
protected:
    void SetUp() override {
        // Appends one run to the file named by its first argument: every
        // further argument ended by a zero byte, then a \001 byte.
        m_recorder =
            Script("record.sh",
                   "out=\"$1\"; shift\n"
                   "{ for a do printf '%s\\000' \"$a\"; done; printf '\\001'; } >> \"$out\"\n");
        m_out = m_dir / "runs.bin";
    }

    std::string Script(const std::string& name, const std::string& body) {
        std::string path = m_dir.Write(name, "#!/bin/sh\n" + body);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    void Set(const std::string& line) { ASSERT_TRUE(m_action.Params().ParseLine(line)) << line; }

    bool Run(const FileList& files) {
        return m_action.Execute(files, DateTime(37422.0), m_control);
    }

    FileData File(const std::string& name) {
        return FileData(name, DateTime(37422.6), 1, FileKind::Added);
    }

    Runs ReadRuns() const {
        Runs runs;
        std::string text = test::ReadFile(m_out);
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\001', start)) != std::string::npos;
             start = end + 1) {
            std::vector<std::string> args;
            std::string run = text.substr(start, end - start);
            std::size_t a = 0;
            for (std::size_t z; (z = run.find('\0', a)) != std::string::npos; a = z + 1) {
                args.push_back(run.substr(a, z - a));
            }
            runs.push_back(args);
        }
        return runs;
    }

    ExecAction m_action;
    StoppableControl m_control;
    std::string m_recorder;
    std::string m_out;
};

TEST_F(ExecActionTest, EmptyCommandStartsNothing) {
    Set("Params=" + m_out + " x");
    EXPECT_TRUE(Run({File("a")}));
    EXPECT_FALSE(std::filesystem::exists(m_out));
}

TEST_F(ExecActionTest, OneRunPerFile) {
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " '%File' %Name");
    Set("Wait=1");
    Set("MultiArgs=0");
    EXPECT_TRUE(Run({File("/d/a 1"), File("/d/b"), File("/d/c")}));
    // A name is one argument, quoted in the template or not.
    EXPECT_EQ(ReadRuns(), (Runs{{"/d/a 1", "a 1"}, {"/d/b", "b"}, {"/d/c", "c"}}));
}

TEST_F(ExecActionTest, BatchesOfMaxFiles) {
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " %(%Name %)");
    Set("Wait=1");
    Set("MaxFiles=2");
    Run({File("/a"), File("/b"), File("/c"), File("/d"), File("/e")});
    EXPECT_EQ(ReadRuns(), (Runs{{"a", "b"}, {"c", "d"}, {"e"}}));
}

TEST_F(ExecActionTest, AllFilesInOneRun) {
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " %(%Name %)");
    Set("Wait=1");
    Run({File("/a"), File("/b"), File("/c")});
    EXPECT_EQ(ReadRuns(), (Runs{{"a", "b", "c"}}));
}

TEST_F(ExecActionTest, BatchWithoutSectionNamesItsFirstFile) {
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " %Name");
    Set("Wait=1");
    Set("MaxFiles=2");
    Run({File("/a"), File("/b"), File("/c")});
    EXPECT_EQ(ReadRuns(), (Runs{{"a"}, {"c"}}));
}

TEST_F(ExecActionTest, EmptyListRunsOnceWithThePlaceholder) {
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " %Name");
    Set("Wait=1");
    Run({});
    EXPECT_EQ(ReadRuns(), (Runs{{"[N].[E]"}}));
}

TEST_F(ExecActionTest, EnvironmentAndDirectory) {
    std::filesystem::create_directory(m_dir / "work");
    ::setenv("QUORVEL_TEST_BIN", m_dir.Path().c_str(), 1);
    Script("pwd.sh", "pwd > \"$1\"\n");
    Set("Command=${QUORVEL_TEST_BIN}/pwd.sh");
    Set("Params=" + (m_dir / "where.txt"));
    Set("Dir=$QUORVEL_TEST_BIN/work");
    Set("Wait=1");
    Run({File("/a")});
    EXPECT_EQ(test::ReadFile(m_dir / "where.txt"),
              std::filesystem::canonical(m_dir / "work").string() + "\n");

    // A relative command is found from the working directory.
    Script("work/local.sh", "echo local > \"$1\"\n");
    Set("Command=./local.sh");
    Set("Params=" + (m_dir / "local.txt"));
    Run({File("/a")});
    EXPECT_EQ(test::ReadFile(m_dir / "local.txt"), "local\n");
}

TEST_F(ExecActionTest, MissingProgramCostsOnlyTheRun) {
    Set("Command=" + (m_dir / "no-such-program"));
    Set("Params=%File");
    Set("Wait=1");
    Set("MultiArgs=0");
    EXPECT_TRUE(Run({File("/a"), File("/b")}));
    Set("Command=quorvel-no-such-command-anywhere");
    EXPECT_TRUE(Run({File("/a")}));
    std::filesystem::create_directory(m_dir / "work");
    Set("Command=" + m_recorder);
    Set("Params=" + m_out + " x");
    Set("Dir=" + (m_dir / "no-such-dir"));
    EXPECT_TRUE(Run({File("/a")}));
    EXPECT_FALSE(std::filesystem::exists(m_out));
}

TEST_F(ExecActionTest, WaitWaitsForTheEnd) {
    Script("slow.sh", "sleep 0.3; echo done > \"$1\"\n");
    Set("Command=" + (m_dir / "slow.sh"));
    Set("Params=" + (m_dir / "done.txt"));
    Set("Wait=1");
    Run({File("/a")});
    EXPECT_EQ(test::ReadFile(m_dir / "done.txt"), "done\n");
}

TEST_F(ExecActionTest, WithoutWaitTheChainGoesOn) {
    // The program ends only once the test lets it; Execute must return first.
    Script("gate.sh", "while [ ! -e \"$1\" ]; do sleep 0.02; done; echo done > \"$2\"\n");
    Set("Command=" + (m_dir / "gate.sh"));
    Set("Params=" + (m_dir / "go") + " " + (m_dir / "done.txt"));
    Set("TerminateTime=1");  // no effect without Wait
    Run({File("/a")});
    EXPECT_FALSE(std::filesystem::exists(m_dir / "done.txt"));
    m_dir.Write("go", "");
    EXPECT_TRUE(test::WaitFor([&] { return std::filesystem::exists(m_dir / "done.txt"); }));
}

TEST_F(ExecActionTest, TerminateTimeKillsTheWholeGroup) {
    Script("hang.sh", "sleep 100 & echo $$ $! > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; wait\n");
    Set("Command=" + (m_dir / "hang.sh"));
    Set("Params=" + (m_dir / "pids"));
    Set("Wait=1");
    Set("TerminateTime=1");
    EXPECT_TRUE(Run({File("/a")}));
    std::string pids = test::ReadFile(m_dir / "pids");
    std::size_t blank = pids.find(' ');
    ASSERT_NE(blank, std::string::npos) << pids;
    std::string script = pids.substr(0, blank);
    std::string sleeper = pids.substr(blank + 1, pids.find('\n') - blank - 1);
    EXPECT_FALSE(Running(script));
    EXPECT_TRUE(test::WaitFor([&] { return !Running(sleeper); })) << "sleep 100 survived";
}

TEST_F(ExecActionTest, StopEndsAWaitWithoutLimit) {
    Script(
        "gate.sh",
        "echo started > \"$2\"; while [ ! -e \"$1\" ]; do sleep 0.02; done; echo > \"$1.seen\"\n");
    Set("Command=" + (m_dir / "gate.sh"));
    Set("Params=" + (m_dir / "go") + " " + (m_dir / "started"));
    Set("Wait=1");
    Set("MultiArgs=0");
    std::thread stopper([&] {
        test::WaitFor([&] { return std::filesystem::exists(m_dir / "started"); });
        m_control.stop = true;
    });
    EXPECT_TRUE(Run({File("/a"), File("/b")}));
    stopper.join();
    EXPECT_TRUE(m_control.stop.load());
    EXPECT_EQ(test::ReadFile(m_dir / "started"), "started\n") << "no second run after a stop";
    m_dir.Write("go", "");  // lets the program end
    EXPECT_TRUE(test::WaitFor([&] { return std::filesystem::exists(m_dir / "go.seen"); }));
}

TEST_F(ExecActionTest, HiddenConnectsTheStreamsToNull) {
    Script("fds.sh",
           "fds=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2); echo \"$fds\" > \"$1\"\n");
    Set("Command=" + (m_dir / "fds.sh"));
    Set("Params=" + (m_dir / "fds.txt"));
    Set("Wait=1");
    Set("Show=3");
    Run({File("/a")});
    EXPECT_EQ(test::ReadFile(m_dir / "fds.txt"), "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(ExecActionTest, NoDescriptorOfOursLeaks) {
    std::ofstream keepOpen(m_dir / "open.txt");  // a descriptor the child must not see
    Script("fds.sh", "ls /proc/$$/fd > \"$1\"\n");
    Set("Command=" + (m_dir / "fds.sh"));
    Set("Params=" + (m_dir / "fds.txt"));
    Set("Wait=1");
    Set("Show=3");
    Run({File("/a")});
    // 0, 1, 2 and the one the shell opens for its redirection (and for
    // reading the script).
    std::string listing = test::ReadFile(m_dir / "fds.txt");
    int count = 0;
    for (char c : listing) {
        count += c == '\n';
    }
    EXPECT_LE(count, 5) << listing;
}

TEST_F(ExecActionTest, FileNamesNeverReachAShellNorMoveWordBoundaries) {
    const std::vector<std::string> names = {
        m_dir / "$(touch pwned)",
        m_dir / "a; touch pwned",
        m_dir / "`touch pwned`",
        m_dir / "with \"double\" quotes",
        m_dir / "a\" \"--evil\" \"b.txt",
        m_dir / "it's",
        m_dir / "a'; touch pwned; '",
        m_dir / "back\\slash\\",
        m_dir / "two\nlines",
        m_dir / "bad \xff\xfe utf8",
        m_dir / "*",
        m_dir / "$HOME & | > out",
        "-n",
        "--evil=1 x",
        " lead and trail ",
    };
    FileList files;
    for (const auto& name : names) {
        files.push_back(File(name));
    }
    Set("Command=" + m_recorder);
    Set("Dir=" + m_dir.Path().string());
    Set("Wait=1");
    Set("MultiArgs=0");
    // Whatever the quoting of the template, each name is exactly one argument.
    for (const char* param : {"%File", "\"%File\"", "'%File'"}) {
        Set("Params=" + m_out + " " + param);
        Run(files);
    }
    // One argument per file in a repeated section.
    Set("MultiArgs=1");
    Set("Params=" + m_out + " %(%File %)");
    Run(files);

    Runs expected;
    for (int pass = 0; pass < 3; ++pass) {
        for (const auto& name : names) {
            expected.push_back({name});
        }
    }
    expected.push_back(names);
    EXPECT_EQ(ReadRuns(), expected);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "pwned"));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out"));
}

TEST_F(ExecActionTest, UnwaitedChildrenLeaveNoZombies) {
    Set("Command=/bin/true");
    Set("Params=%File");
    Set("MultiArgs=0");
    FileList files;
    for (int i = 0; i < 1000; ++i) {
        files.push_back(File("/f" + std::to_string(i)));
    }
    Run(files);
    EXPECT_TRUE(test::WaitFor(
        [] { return platform::ChildrenAwaitingReaper() == 0 && ZombieChildren() == 0; },
        std::chrono::seconds(60)))
        << platform::ChildrenAwaitingReaper() << " awaiting, " << ZombieChildren() << " zombies";
}

}  // namespace
}  // namespace quorvel
