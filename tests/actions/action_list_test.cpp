#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "actions/action.h"
#include "actions/exec_action.h"
#include "actions/file_op_action.h"
#include "actions/kill_action.h"
#include "actions/list_action.h"
#include "actions/popup_action.h"
#include "actions/sound_action.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using std::chrono::milliseconds;

/// Records what the chain asks of it; can be told to stop.
class FakeControl : public RunControl {
public:
    bool StopRequested() const override { return stop.load(); }
    bool SleepFor(milliseconds duration) override {
        sleeps.push_back(duration);
        if (stopDuringSleep) {
            stop = true;
        }
        return !stop.load();
    }

    std::atomic<bool> stop{false};
    bool stopDuringSleep = false;
    std::vector<milliseconds> sleeps;
};

struct ProbeLog {
    std::vector<std::string> executed;
    std::vector<DateTime> runStarts;
    std::vector<std::string> destroyed;
};

/// An action that notes its runs and answers a fixed value.
class ProbeAction : public Action {
public:
    ProbeAction(ProbeLog& log, std::string name, bool answer = true, bool stopsItem = false)
        : Action(ActionKind::Popup, "probe"),
          m_log(log),
          m_name(std::move(name)),
          m_answer(answer),
          m_stopsItem(stopsItem) {}
    ~ProbeAction() override { m_log.destroyed.push_back(m_name); }

    bool Execute(const FileList&, DateTime runStart, RunControl& control) override {
        m_log.executed.push_back(m_name);
        m_log.runStarts.push_back(runStart);
        if (m_stopsItem) {
            static_cast<FakeControl&>(control).stop = true;
        }
        return m_answer;
    }
    std::string Describe() const override { return m_name; }

    void SetEnabled(bool enabled) { Params().ParseLine(enabled ? "Enabled=1" : "Enabled=0"); }
    void SetDelay(int ms) { Params().ParseLine("DelayBefore=" + std::to_string(ms)); }

private:
    ProbeLog& m_log;
    std::string m_name;
    bool m_answer;
    bool m_stopsItem;
};

std::string Written(const Action& action) {
    std::string out;
    action.Params().Write(out);
    return out;
}

/// The lines of a parameter block, platform line endings removed.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    const std::string ending = platform::kLineEnding;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(ending, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + ending.size();
    }
    return lines;
}

std::vector<std::string> Keys(const Action& action) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < action.Params().Size(); ++i) {
        keys.push_back(action.Params().At(i).Key());
    }
    return keys;
}

// ---------------------------------------------------------------------------

TEST(CreateActionTest, MakesEachKindWithItsCaption) {
    const char* captions[] = {"Create filelist", "Execute program", "Popup window",
                              "Play sound",      "File operation",  "Terminate Program"};
    for (int kind = 0; kind <= 5; ++kind) {
        auto action = CreateAction(static_cast<ActionKind>(kind));
        ASSERT_TRUE(action) << kind;
        EXPECT_EQ(static_cast<int>(action->Kind()), kind);
        EXPECT_EQ(action->KindCaption(), captions[kind]);
        EXPECT_EQ(ActionKindCaption(static_cast<ActionKind>(kind)), captions[kind]);
        EXPECT_TRUE(action->Enabled());
        EXPECT_EQ(action->DelayBefore(), 0);
        EXPECT_EQ(action->Comment(), "");
    }
    EXPECT_TRUE(dynamic_cast<ListAction*>(CreateAction(ActionKind(0)).get()));
    EXPECT_TRUE(dynamic_cast<ExecAction*>(CreateAction(ActionKind(1)).get()));
    EXPECT_TRUE(dynamic_cast<PopupAction*>(CreateAction(ActionKind(2)).get()));
    EXPECT_TRUE(dynamic_cast<SoundAction*>(CreateAction(ActionKind(3)).get()));
    EXPECT_TRUE(dynamic_cast<FileOpAction*>(CreateAction(ActionKind(4)).get()));
    EXPECT_TRUE(dynamic_cast<KillAction*>(CreateAction(ActionKind(5)).get()));
}

TEST(CreateActionTest, NothingOutsideTheKinds) {
    EXPECT_FALSE(CreateAction(static_cast<ActionKind>(-1)));
    EXPECT_FALSE(CreateAction(ActionKind(6)));
    EXPECT_FALSE(CreateAction(ActionKind(1000)));
    EXPECT_EQ(ActionKindCaption(static_cast<ActionKind>(6)), "");
}

TEST(CreateActionTest, CaptionFollowsTheLanguageAtConstruction) {
    auto before = CreateAction(ActionKind(0));
    auto texts = Strings().Texts();
    texts[lngCreateList] = "Dateiliste anlegen";
    Strings().SetTexts(texts);
    auto after = CreateAction(ActionKind(0));
    ActionList copies;
    ActionList source;
    source.push_back(CreateAction(ActionKind(0)));
    CopyActionList(copies, source);
    Strings().Reset();

    EXPECT_EQ(before->KindCaption(), "Create filelist");
    EXPECT_EQ(after->KindCaption(), "Dateiliste anlegen");
    EXPECT_EQ(copies[0]->KindCaption(), "Dateiliste anlegen");
}

// ---------------------------------------------------------------------------

TEST(ActionParamsTest, DefaultsInWritingOrder) {
    const std::vector<std::vector<std::string>> expected = {
        {"Action=0", "Enabled=1", "DelayBefore=0", "ActComment=", "ListName=list.txt",
         "ListParams=%File", "ListAppend=0", "ListDelete=0", "UseCycle=0"},
        {"Action=1", "Enabled=1", "DelayBefore=0", "ActComment=", "Command=", "Params=", "Dir=",
         "Show=0", "Wait=0", "MultiArgs=1", "MaxFiles=0", "TerminateTime=0"},
        {"Action=2", "Enabled=1", "DelayBefore=0", "ActComment=", "Message=", "PopupWait=0",
         "YesNoButton=0", "AlwaysOnTop=0", "ServiceNotification=0"},
        {"Action=3", "Enabled=1", "DelayBefore=0", "ActComment=", "WaveFile=", "Beep=0",
         "SndInterval=0", "SndPeriod=100"},
        {"Action=4", "Enabled=1", "DelayBefore=0", "ActComment=", "OpIndex=0",
         "OpSource=", "OpDestination=", "AllowUndo=0", "ShowProgress=1", "YesToAll=1",
         "OpFilesOnly=0", "OpSingleArg=0"},
        {"Action=5", "Enabled=1", "DelayBefore=0",
         "ActComment=", "killTitleMask=", "killCloseAll=0", "killForcedKill=0"},
    };
    for (int kind = 0; kind <= 5; ++kind) {
        EXPECT_EQ(Lines(Written(*CreateAction(static_cast<ActionKind>(kind)))), expected[kind])
            << kind;
    }
}

/// A value different from the default for every key.
std::string OtherValue(const std::string& key) {
    if (key == "Action" || key == "Enabled") {
        return "";  // fixed by the kind / tested elsewhere
    }
    static const std::vector<std::pair<std::string, std::string>> values = {
        {"DelayBefore", "1500"},
        {"ActComment", "a comment; with = signs"},
        {"ListName", "/tmp/%Name.lst"},
        {"ListParams", "%File=\"N\" %Size"},
        {"Command", "$HOME/bin/tool"},
        {"Params", "-v '%File'"},
        {"Dir", "/var/tmp"},
        {"Show", "3"},
        {"MaxFiles", "7"},
        {"TerminateTime", "2147483"},
        {"Message", "changed: %Name"},
        {"WaveFile", "/usr/share/sounds/x.wav"},
        {"SndInterval", "60"},
        {"SndPeriod", "250"},
        {"OpIndex", "2"},
        {"OpSource", "%File"},
        {"OpDestination", "/backup/%Name"},
        {"killTitleMask", "*Editor*"},
    };
    for (const auto& [k, v] : values) {
        if (k == key) {
            return v;
        }
    }
    return "flip";  // a boolean
}

TEST(ActionParamsTest, WriteThenReadReproducesEveryKind) {
    for (int kind = 0; kind <= 5; ++kind) {
        auto original = CreateAction(static_cast<ActionKind>(kind));
        const std::string defaults = Written(*original);
        original->Params().ParseLine("Enabled=0");
        for (const std::string& key : Keys(*original)) {
            std::string value = OtherValue(key);
            if (value == "flip") {
                std::string line = Written(*original);
                bool isTrue = line.find(key + "=1") != std::string::npos;
                value = isTrue ? "0" : "1";
            }
            if (!value.empty()) {
                ASSERT_TRUE(original->Params().ParseLine(key + "=" + value)) << key;
            }
        }
        const std::string text = Written(*original);
        ASSERT_NE(text, defaults);

        // Read back the way a configuration block is read: "Action" creates.
        std::unique_ptr<Action> read;
        for (const std::string& line : Lines(text)) {
            if (line.rfind("Action=", 0) == 0) {
                read = CreateAction(static_cast<ActionKind>(std::stoi(line.substr(7))));
                continue;
            }
            ASSERT_TRUE(read);
            EXPECT_TRUE(read->Params().ParseLine(line)) << line;
        }
        ASSERT_TRUE(read);
        EXPECT_EQ(Written(*read), text) << kind;
        EXPECT_FALSE(read->Enabled());
        EXPECT_EQ(read->DelayBefore(), 1500);
    }
}

TEST(ActionParamsTest, OutOfRangeValuesFallToTheMinimum) {
    auto exec = CreateAction(ActionKind(1));
    auto& params = exec->Params();
    params.ParseLine("DelayBefore=-5");
    params.ParseLine("Show=4");
    params.ParseLine("TerminateTime=2147484");
    params.ParseLine("MaxFiles=-1");
    auto& e = static_cast<ExecAction&>(*exec);
    EXPECT_EQ(e.DelayBefore(), 0);
    EXPECT_EQ(e.Show(), 0);
    EXPECT_EQ(e.TerminateTime(), 0);
    EXPECT_EQ(e.MaxFiles(), 0);
    params.ParseLine("Action=9");
    EXPECT_EQ(static_cast<int>(exec->Kind()), 0);

    auto sound = CreateAction(ActionKind(3));
    sound->Params().ParseLine("SndPeriod=50");
    EXPECT_EQ(static_cast<SoundAction&>(*sound).SndPeriod(), 100);
}

TEST(ActionParamsTest, DescribeUsesTheRawTexts) {
    auto list = CreateAction(ActionKind(0));
    EXPECT_EQ(list->Describe(), "list.txt: %File");
    auto exec = CreateAction(ActionKind(1));
    exec->Params().ParseLine("Command=/bin/tool");
    exec->Params().ParseLine("Params=\"%File\"");
    EXPECT_EQ(exec->Describe(), "/bin/tool \"%File\"");
    auto popup = CreateAction(ActionKind(2));
    popup->Params().ParseLine("Message=hello %Name");
    EXPECT_EQ(popup->Describe(), "hello %Name");
    auto sound = CreateAction(ActionKind(3));
    sound->Params().ParseLine("WaveFile=%File");
    EXPECT_EQ(sound->Describe(), "%File");
    auto kill = CreateAction(ActionKind(5));
    kill->Params().ParseLine("killTitleMask=*vi*");
    EXPECT_EQ(kill->Describe(), "*vi*");

    auto op = CreateAction(ActionKind(4));
    op->Params().ParseLine("OpSource=a");
    op->Params().ParseLine("OpDestination=b");
    const char* expected[] = {"Copy: a b", "Move: a b", "Rename: a b", "Delete: a "};
    for (int i = 0; i <= 3; ++i) {
        op->Params().ParseLine("OpIndex=" + std::to_string(i));
        EXPECT_EQ(op->Describe(), expected[i]);
    }
}

// ---------------------------------------------------------------------------

TEST(CopyActionListTest, ReplacesTheDestinationWithEqualCopies) {
    ProbeLog log;
    ActionList destination;
    destination.push_back(std::make_unique<ProbeAction>(log, "old1"));
    destination.push_back(std::make_unique<ProbeAction>(log, "old2"));

    ActionList source;
    source.push_back(CreateAction(ActionKind(3)));
    source.push_back(CreateAction(ActionKind(1)));
    source[0]->Params().ParseLine("WaveFile=bell.wav");
    source[0]->Params().ParseLine("Enabled=0");
    source[1]->Params().ParseLine("Command=/bin/true");
    source[1]->Params().ParseLine("ActComment=note");

    CopyActionList(destination, source);

    EXPECT_EQ(log.destroyed, (std::vector<std::string>{"old1", "old2"}));
    ASSERT_EQ(destination.size(), 2u);
    for (std::size_t i = 0; i < source.size(); ++i) {
        EXPECT_NE(destination[i].get(), source[i].get());
        EXPECT_EQ(destination[i]->Kind(), source[i]->Kind());
        EXPECT_EQ(Written(*destination[i]), Written(*source[i]));
    }
    // The copy is independent of the source.
    source[1]->Params().ParseLine("Command=/bin/false");
    EXPECT_EQ(static_cast<ExecAction&>(*destination[1]).Command(), "/bin/true");
}

// ---------------------------------------------------------------------------

class RunActionsTest : public test::TempDirTest {
protected:
    /// A list action that writes into the temporary directory and deletes
    /// its file after the chain.
    std::unique_ptr<Action> DeletingList(const std::string& name) {
        auto list = CreateAction(ActionKind(0));
        list->Params().ParseLine("ListName=" + (m_dir / name));
        list->Params().ParseLine("ListDelete=1");
        return list;
    }

    ProbeLog m_log;
    FakeControl m_control;
    FileList m_files{
        FileData(std::string("/data/a.txt"), DateTime(37422.5), 10, FileKind::Changed)};
};

TEST_F(RunActionsTest, RunsEnabledActionsInOrderWithOneStartTime) {
    ActionList actions;
    actions.push_back(std::make_unique<ProbeAction>(m_log, "one"));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "two"));
    auto disabled = std::make_unique<ProbeAction>(m_log, "off");
    disabled->SetEnabled(false);
    disabled->SetDelay(1500);
    actions.push_back(std::move(disabled));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "three"));

    const DateTime before = DateTime::Now();
    RunActions(actions, m_files, m_control);
    const DateTime after = DateTime::Now();

    EXPECT_EQ(m_log.executed, (std::vector<std::string>{"one", "two", "three"}));
    ASSERT_EQ(m_log.runStarts.size(), 3u);
    EXPECT_EQ(m_log.runStarts[0], m_log.runStarts[1]);
    EXPECT_EQ(m_log.runStarts[1], m_log.runStarts[2]);
    EXPECT_GE(m_log.runStarts[0], before);
    EXPECT_LE(m_log.runStarts[0], after);
    EXPECT_TRUE(m_control.sleeps.empty()) << "a disabled action must not pause the chain";
}

TEST_F(RunActionsTest, DelayBeforeSleepsThroughTheItem) {
    ActionList actions;
    auto delayed = std::make_unique<ProbeAction>(m_log, "late");
    delayed->SetDelay(1500);
    actions.push_back(std::move(delayed));
    RunActions(actions, m_files, m_control);
    EXPECT_EQ(m_control.sleeps, (std::vector<milliseconds>{milliseconds(1500)}));
    EXPECT_EQ(m_log.executed, (std::vector<std::string>{"late"}));
}

TEST_F(RunActionsTest, StopDuringDelayRunsNothingMore) {
    ActionList actions;
    actions.push_back(DeletingList("l.txt"));
    auto delayed = std::make_unique<ProbeAction>(m_log, "late");
    delayed->SetDelay(100);
    actions.push_back(std::move(delayed));
    m_control.stopDuringSleep = true;
    RunActions(actions, m_files, m_control);
    EXPECT_TRUE(m_log.executed.empty());
    EXPECT_TRUE(std::filesystem::exists(m_dir / "l.txt")) << "a stop skips the clean-up";
}

TEST_F(RunActionsTest, FalseStopsTheChainButTheCleanUpStillRuns) {
    ActionList actions;
    actions.push_back(DeletingList("l.txt"));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "no", false));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "after"));
    RunActions(actions, m_files, m_control);
    EXPECT_EQ(m_log.executed, (std::vector<std::string>{"no"}));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "l.txt"));
}

TEST_F(RunActionsTest, ListFileExistsWhileLaterActionsRun) {
    ActionList actions;
    actions.push_back(DeletingList("l.txt"));
    bool existed = false;
    class Peek : public ProbeAction {
    public:
        Peek(ProbeLog& log, std::string path, bool& existed)
            : ProbeAction(log, "peek"), m_path(std::move(path)), m_existed(existed) {}
        bool Execute(const FileList& f, DateTime t, RunControl& c) override {
            m_existed = std::filesystem::exists(m_path);
            return ProbeAction::Execute(f, t, c);
        }

    private:
        std::string m_path;
        bool& m_existed;
    };
    actions.push_back(std::make_unique<Peek>(m_log, m_dir / "l.txt", existed));
    RunActions(actions, m_files, m_control);
    EXPECT_TRUE(existed);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "l.txt"));
}

TEST_F(RunActionsTest, StopBeforeTheNextActionSkipsTheCleanUp) {
    ActionList actions;
    actions.push_back(DeletingList("l.txt"));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "stopper", true, true));
    actions.push_back(std::make_unique<ProbeAction>(m_log, "after"));
    RunActions(actions, m_files, m_control);
    EXPECT_EQ(m_log.executed, (std::vector<std::string>{"stopper"}));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "l.txt"));
}

TEST_F(RunActionsTest, StoppedItemRunsNothing) {
    ActionList actions;
    actions.push_back(std::make_unique<ProbeAction>(m_log, "one"));
    m_control.stop = true;
    RunActions(actions, m_files, m_control);
    EXPECT_TRUE(m_log.executed.empty());
}

TEST_F(RunActionsTest, DisabledListActionDeletesNothing) {
    ActionList actions;
    actions.push_back(DeletingList("l.txt"));
    RunActions(actions, m_files, m_control);  // writes and deletes
    EXPECT_FALSE(std::filesystem::exists(m_dir / "l.txt"));

    // Disabled now: its old file name must not be deleted again.
    m_dir.Write("l.txt", "keep");
    actions[0]->Params().ParseLine("Enabled=0");
    actions.push_back(std::make_unique<ProbeAction>(m_log, "other"));
    RunActions(actions, m_files, m_control);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "l.txt"));
    EXPECT_EQ(test::ReadFile(m_dir / "l.txt"), "keep");
}

TEST(StopSoundsTest, RaisesTheFlagOfEnabledSoundsOnly) {
    ActionList actions;
    actions.push_back(CreateAction(ActionKind(3)));
    actions.push_back(CreateAction(ActionKind(3)));
    actions.push_back(CreateAction(ActionKind(1)));
    actions[1]->Params().ParseLine("Enabled=0");
    StopSounds(actions);
    EXPECT_TRUE(static_cast<SoundAction&>(*actions[0]).StopRequested());
    EXPECT_FALSE(static_cast<SoundAction&>(*actions[1]).StopRequested());
}

}  // namespace
}  // namespace quorvel
