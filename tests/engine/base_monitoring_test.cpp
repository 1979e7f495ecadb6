#include "engine/base_monitoring.h"

#include <gtest/gtest.h>

#include <thread>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "engine/monitor_process.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// An item whose checks answer from a script and whose actions are counted
// by a file list action writing into a temporary directory is more than
// these tests need: they count checks and action runs through the item.
class ScriptedItem : public BaseMonitoring {
public:
    static std::shared_ptr<ScriptedItem> Create(bool paused, std::deque<bool> answers) {
        auto item = std::shared_ptr<ScriptedItem>(new ScriptedItem(paused));
        item->m_answers = std::move(answers);
        return item;
    }
    ~ScriptedItem() override { StopWorker(); }
    std::atomic<int> checks{0};

protected:
    explicit ScriptedItem(bool paused) : BaseMonitoring(paused) {}
    bool Check() override {
        bool answer = false;
        {
            std::lock_guard lock(m_mutex);
            if (!m_answers.empty()) {
                answer = m_answers.front();
                m_answers.pop_front();
            }
        }
        SetState(answer ? ItemState::Triggered : ItemState::Ok);
        ++checks;
        return answer;
    }

private:
    std::mutex m_mutex;
    std::deque<bool> m_answers;
};

class CountingObserver : public ItemObserver {
public:
    void UpdateStatus(BaseMonitoring&) override {}
    void ShowCountdown(BaseMonitoring&) override {}
    void ActionsStarting(BaseMonitoring&) override { ++actions; }
    std::atomic<int> actions{0};
};

std::shared_ptr<ScriptedItem> Started(std::deque<bool> answers, std::vector<std::string> settings,
                                      ItemObserver* observer = nullptr, bool paused = false) {
    auto item = ScriptedItem::Create(paused, std::move(answers));
    item->ReadSettings(settings);
    item->SetObserver(observer);
    item->Start();
    if (!paused) {
        item->Resume();
    }
    return item;
}

TEST(BaseMonitoringTest, ChecksAtOnceThenServesRequestsWithoutWaitingForTheInterval) {
    auto item = Started({}, {"Interval=3600"});
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 1; }));
    item->CheckNow(false);
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 2; }));
    item->SetReset(true);
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 3; }));
    EXPECT_GT(item->SecondsLeft(), 3000);
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, RunOnceActsOnTheFirstOfConsecutiveFulfilledChecks) {
    CountingObserver observer;
    auto item = Started({true, true, false, true}, {"Interval=3600", "RunOnce=1"}, &observer);
    for (int i = 2; i <= 4; ++i) {
        ASSERT_TRUE(test::WaitFor([&] { return item->checks >= i - 1; }));
        item->CheckNow(false);
    }
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 4; }));
    ASSERT_TRUE(test::WaitFor([&] { return item->CheckCount() >= 4; }));
    EXPECT_EQ(observer.actions, 2);
    item->RequestStop();
    // The observer must outlive the worker that calls it.
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, PausedItemsDoNotCheckUntilResumed) {
    auto item = Started({}, {"Interval=1"}, nullptr, true);
    EXPECT_EQ(item->State(), ItemState::Paused);
    item->CheckNow(false);
    // A paused worker holds; nothing can be checked while it is suspended.
    EXPECT_EQ(item->checks, 0);
    item->Resume();
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 1; }));
    item->Pause();
    EXPECT_EQ(item->State(), ItemState::Paused);
    ASSERT_TRUE(test::WaitFor([&] { return item->Suspended(); }));
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

// An action that counts its runs and, when gated, waits for the test to
// open the gate before it returns.
class GateAction : public Action {
public:
    explicit GateAction(bool gated, int delayMs = 0) : Action(ActionKind::List, "gate") {
        m_gate = !gated;
        Params().ParseLine("DelayBefore=" + std::to_string(delayMs));
    }
    bool Execute(const FileList&, DateTime, RunControl&) override {
        ++entered;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_gate; });
        ++runs;
        return true;
    }
    std::string Describe() const override { return "gate"; }
    void Open() {
        {
            std::lock_guard lock(m_mutex);
            m_gate = true;
        }
        m_changed.notify_all();
    }
    std::atomic<int> entered{0};
    std::atomic<int> runs{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gate = false;
};

std::shared_ptr<const ActionList> ListOf(std::vector<Action*> actions) {
    auto list = std::make_shared<ActionList>();
    for (Action* a : actions) {
        list->emplace_back(a);
    }
    return list;
}

TEST(BaseMonitoringTest, APausedItemStartsNoFurtherActionUntilResumed) {
    auto item = ScriptedItem::Create(false, {true});
    item->ReadSettings({"Interval=3600"});
    auto* first = new GateAction(true);
    auto* second = new GateAction(false, 20);
    auto actions = ListOf({first, second});
    item->SetActions(actions);
    item->Start();
    item->Resume();
    ASSERT_TRUE(test::WaitFor([&] { return first->entered == 1; }));
    item->Pause();
    first->Open();
    // The chain holds before the delay of the next action, and stays there.
    ASSERT_TRUE(test::WaitFor([&] { return item->HoldingChain(); }));
    EXPECT_EQ(second->entered, 0);
    EXPECT_EQ(item->State(), ItemState::Paused);
    item->Resume();
    ASSERT_TRUE(test::WaitFor([&] { return second->runs == 1; }));
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, TheIntervalCountsFromTheEndOfTheActions) {
    auto item = ScriptedItem::Create(false, {true});
    item->ReadSettings({"Interval=3600"});
    auto* slow = new GateAction(true);
    auto actions = ListOf({slow});
    item->SetActions(actions);
    item->Start();
    item->Resume();
    ASSERT_TRUE(test::WaitFor([&] { return slow->entered == 1; }));
    // Keep the chain running for two seconds.
    const auto until = std::chrono::steady_clock::now() + 2s;
    ASSERT_TRUE(test::WaitFor([&] { return std::chrono::steady_clock::now() >= until; }));
    slow->Open();
    ASSERT_TRUE(test::WaitFor([&] { return item->CheckCount() >= 1; }));
    EXPECT_GE(item->SecondsLeft(), 3599);
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, AResumedItemIsNeverLeftShownOrSavedAsPaused) {
    auto item = Started({}, {"Interval=1"});
    for (int i = 0; i < 2000; ++i) {
        item->Pause();
        item->Resume();
    }
    EXPECT_NE(item->State(), ItemState::Paused);
    ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 2; }));
    EXPECT_NE(item->State(), ItemState::Paused);
    std::string out;
    item->WriteSettings(out);
    out = test::Lf(out);
    EXPECT_EQ(out.rfind("Paused=0\n", 0), 0u);
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, ToPausedSuspendsAfterActingAndShowsPausedWithAnObserver) {
    CountingObserver observer;
    auto shown = Started({true}, {"Interval=3600", "ToPaused=1"}, &observer);
    ASSERT_TRUE(test::WaitFor([&] { return shown->Suspended() && shown->CheckCount() >= 1; }));
    EXPECT_EQ(shown->State(), ItemState::Paused);

    auto console = Started({true}, {"Interval=3600", "ToPaused=1"});
    ASSERT_TRUE(test::WaitFor([&] { return console->Suspended() && console->CheckCount() >= 1; }));
    EXPECT_NE(console->State(), ItemState::Paused);
    shown->RequestStop();
    console->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return shown->Finished() && console->Finished(); }));
}

TEST(BaseMonitoringTest, OutsideTheScheduleItWaitsAndKeepsRequestsPending) {
    auto item = Started({}, {"Interval=1", "Days=0000000"});
    ASSERT_TRUE(test::WaitFor([&] { return item->State() == ItemState::Waiting; }));
    item->CheckNow(false);
    EXPECT_EQ(item->checks, 0);
    item->RequestStop();
    EXPECT_TRUE(test::WaitFor([&] { return item->Finished(); }));
}

TEST(BaseMonitoringTest, ReadsAndWritesItsBlockWithActions) {
    auto item = ScriptedItem::Create(false, {});
    item->ReadSettings({"Command=ignored before any action", "FileName=/tmp/x", "interval=30",
                        "Action=3", "WaveFile=a.wav", "Action=9", "ListName=list.txt",
                        "TimeInterval=08:00:00 - 18:00:00", "TimeInterval=bad", "WorkHours=1",
                        "Paused=1"});
    EXPECT_EQ(item->Interval(), 30);
    auto actions = item->Actions();
    ASSERT_EQ(actions->size(), 2u);
    EXPECT_EQ((*actions)[0]->Kind(), ActionKind::Sound);
    EXPECT_EQ((*actions)[1]->Kind(), ActionKind::List);
    std::string out;
    item->WriteSettings(out);
    out = test::Lf(out);
    EXPECT_EQ(out.rfind("Paused=0\nIsDirectory=0\nFileName=/tmp/x\n", 0), 0u) << out;
    EXPECT_NE(out.find("TimeInterval=08:00:00 - 18:00:00\n"), std::string::npos);
    EXPECT_EQ(out.find("TimeInterval=bad"), std::string::npos);
    EXPECT_NE(out.find(";\nAction=3\n"), std::string::npos);
    EXPECT_NE(out.find("WaveFile=a.wav\n"), std::string::npos);
    EXPECT_NE(out.find(";\nAction=0\n"), std::string::npos);
    EXPECT_NE(out.find("ListName=list.txt\n"), std::string::npos);
}

// Reads three settings during each check, with room between the reads for
// another thread to write.
class SettingsProbe : public BaseMonitoring {
public:
    static std::shared_ptr<SettingsProbe> Create() {
        return std::shared_ptr<SettingsProbe>(new SettingsProbe());
    }
    ~SettingsProbe() override { StopWorker(); }
    std::atomic<int> checks{0};
    std::atomic<int> mixed{0};

protected:
    SettingsProbe() : BaseMonitoring(false) {}
    bool Check() override {
        const std::string name = FileName();
        std::this_thread::yield();
        const std::string comment = Comment();
        std::this_thread::yield();
        const int interval = Interval();
        const bool a = name == "a" && comment == "a" && interval == 1000;
        const bool b = name == "b" && comment == "b" && interval == 2000;
        mixed += a || b ? 0 : 1;
        ++checks;
        return false;
    }
};

// The properties dialog's OK, many times while checks run: every check sees
// the settings of one OK or of another, never a mix of both.
TEST(BaseMonitoringTest, SettingsTakenWholeNeverMixInACheck) {
    auto item = SettingsProbe::Create();
    item->ReadSettings({"FileName=a", "Comment=a", "Interval=1000"});
    item->Start();
    item->Resume();
    std::atomic<bool> done{false};
    std::thread checker([&] {
        while (!done) {
            item->CheckNow(false);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        auto copy = SettingsProbe::Create();
        const std::string v = i % 2 == 0 ? "b" : "a";
        copy->ReadSettings({"FileName=" + v, "Comment=" + v,
                            std::string("Interval=") + (v == "b" ? "2000" : "1000")});
        item->TakeSettings(copy, std::nullopt);
    }
    ASSERT_TRUE(test::WaitFor([&] { return item->checks > 50; }));
    done = true;
    checker.join();
    EXPECT_EQ(item->mixed, 0);
    EXPECT_EQ(item->FileName(), "a") << "the last OK is what stays";
    EXPECT_GT(item->SettingsGeneration(), 0u);
}

TEST(BaseMonitoringTest, StoppedWorkersAllEnd) {
    std::vector<std::shared_ptr<ScriptedItem>> items;
    for (int i = 0; i < 50; ++i) {
        items.push_back(Started({}, {"Interval=3600"}));
    }
    for (auto& item : items) {
        ASSERT_TRUE(test::WaitFor([&] { return item->checks >= 1; }));
        item->RequestStop();
    }
    items.clear();
    EXPECT_TRUE(BaseMonitoring::WaitForWorkers(20s));
}

}  // namespace
}  // namespace quorvel
