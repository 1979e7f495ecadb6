#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "actions/action.h"
#include "actions/popup_action.h"
#include "platform/message_box.h"
#include "support/fake_message_box.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using platform::ConsoleAnswers;
using platform::MessageAnswer;
using platform::MessageButtons;
using test::WaitFor;

FileList ThreeFiles() {
    FileList files;
    for (const char* name : {"/data/a.log", "/data/b.log", "/data/c.log"}) {
        files.emplace_back(std::string(name), DateTime(40000.0), 10, FileKind::Changed);
    }
    return files;
}

std::unique_ptr<PopupAction> Popup(const std::string& lines) {
    auto action = std::make_unique<PopupAction>();
    std::string rest = lines;
    while (!rest.empty()) {
        auto end = rest.find('\n');
        action->Params().ParseLine(rest.substr(0, end));
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
    }
    return action;
}

// A message box whose windows stay open until the test closes them all.
class HeldMessageBox : public platform::MessageBox {
public:
    MessageAnswer Show(const std::string&, const std::string& text,
                       const platform::MessageStyle&) override {
        std::unique_lock lock(m_mutex);
        m_open.push_back(text);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released; });
        ++m_closed;
        return MessageAnswer::Ok;
    }
    void ReleaseAll() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    std::vector<std::string> Open() {
        std::lock_guard lock(m_mutex);
        return m_open;
    }
    int Closed() {
        std::lock_guard lock(m_mutex);
        return m_closed;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_open;
    bool m_released = false;
    int m_closed = 0;
};

class PopupActionTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetMessageBox(m_box); }
    void TearDown() override { platform::SetMessageBox(nullptr); }

    std::shared_ptr<test::FakeMessageBox> m_box = std::make_shared<test::FakeMessageBox>();
    PlainRunControl m_control;
};

TEST_F(PopupActionTest, WithoutWaitingShowsOnlyOkAndTheChainGoesOn) {
    auto popup = Popup("Message=Changed:%( %Name%)\nYesNoButton=1\nAlwaysOnTop=1");
    m_box->QueueAnswer(MessageAnswer::No);
    EXPECT_TRUE(popup->Execute(ThreeFiles(), DateTime(40001.0), m_control));
    ASSERT_TRUE(WaitFor([&] { return m_box->Count() == 1; }));
    auto shown = m_box->ShownMessages()[0];
    EXPECT_EQ(shown.title, "Quorvel Notification");
    EXPECT_EQ(shown.text, "Changed: a.log b.log c.log");
    EXPECT_EQ(shown.style.buttons, MessageButtons::Ok);
    EXPECT_TRUE(shown.style.alwaysOnTop);
    EXPECT_FALSE(shown.style.serviceNotification);
    EXPECT_EQ(popup->ExpandedMessage(), "Changed: a.log b.log c.log");
}

TEST_F(PopupActionTest, AWaitingQuestionAnsweredNoStopsTheChain) {
    ActionList chain;
    chain.push_back(Popup("Message=Go on?\nPopupWait=1\nYesNoButton=1\nServiceNotification=1"));
    chain.push_back(Popup("Message=second\nPopupWait=1"));
    m_box->QueueAnswer(MessageAnswer::No);
    RunActions(chain, {}, m_control);
    ASSERT_EQ(m_box->Count(), 1u);
    EXPECT_EQ(m_box->ShownMessages()[0].style.buttons, MessageButtons::YesNo);
    EXPECT_TRUE(m_box->ShownMessages()[0].style.serviceNotification);

    m_box->QueueAnswer(MessageAnswer::Yes);
    RunActions(chain, {}, m_control);
    ASSERT_EQ(m_box->Count(), 3u);
    EXPECT_EQ(m_box->ShownMessages()[2].text, "second");
    EXPECT_EQ(m_box->ShownMessages()[2].style.buttons, MessageButtons::Ok);
}

TEST_F(PopupActionTest, AnEmptyMessageStillShowsTheTitle) {
    auto popup = Popup("PopupWait=1");
    EXPECT_TRUE(popup->Execute({}, DateTime(40001.0), m_control));
    ASSERT_EQ(m_box->Count(), 1u);
    EXPECT_EQ(m_box->ShownMessages()[0].text, "");
    EXPECT_EQ(m_box->ShownMessages()[0].title, "Quorvel Notification");
}

TEST_F(PopupActionTest, OpenWindowsNeverHoldTheWorkerAndKeepTheirOwnText) {
    auto held = std::make_shared<HeldMessageBox>();
    platform::SetMessageBox(held);
    auto popup = Popup("Message=first %Name");
    FileList files = ThreeFiles();
    EXPECT_TRUE(popup->Execute(files, DateTime(40001.0), m_control));
    popup->Params().ParseLine("Message=second %Name");
    EXPECT_TRUE(popup->Execute(files, DateTime(40001.0), m_control));
    // Both windows are open at once while the worker has moved on.
    ASSERT_TRUE(WaitFor([&] { return held->Open().size() == 2; }));
    popup.reset();
    auto open = held->Open();
    std::sort(open.begin(), open.end());
    EXPECT_EQ(open, (std::vector<std::string>{"first a.log", "second a.log"}));
    held->ReleaseAll();
    EXPECT_TRUE(WaitFor([&] { return held->Closed() == 2; }));
}

class ConsoleMessageBoxTest : public test::TempDirTest {
protected:
    void SetUp() override {
        m_path = m_dir / "out.txt";
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ASSERT_GE(m_fd, 0);
    }
    void TearDown() override {
        ConsoleAnswers::Instance().SetTerminalAvailable(false);
        ::close(m_fd);
    }

    std::string m_path;
    int m_fd = -1;
};

TEST_F(ConsoleMessageBoxTest, BlocksFromManyThreadsNeverInterleave) {
    platform::ConsoleMessageBox box(m_fd);
    constexpr int kThreads = 8, kMessages = 40;
    std::map<std::string, int> expected;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&box, t] {
            for (int m = 0; m < kMessages; ++m) {
                std::string id = std::to_string(t) + "-" + std::to_string(m);
                std::string text =
                    "first line " + id + "\n" + std::string(300, 'x') + "\nlast " + id;
                box.Show("T", text, {});
            }
        });
        for (int m = 0; m < kMessages; ++m) {
            std::string id = std::to_string(t) + "-" + std::to_string(m);
            ++expected["first line " + id + "\n" + std::string(300, 'x') + "\nlast " + id + "\n"];
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::string all = test::ReadFile(m_path);
    const std::string header = "[T]\n";
    ASSERT_EQ(all.rfind(header, 0), 0u);
    std::map<std::string, int> seen;
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t next = all.find(header, pos + header.size());
        if (next == std::string::npos) {
            next = all.size();
        }
        ++seen[all.substr(pos + header.size(), next - pos - header.size())];
        pos = next;
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(ConsoleMessageBoxTest, QuestionsWaitForYOrNInTheOrderAsked) {
    auto& answers = ConsoleAnswers::Instance();
    answers.SetTerminalAvailable(true);
    EXPECT_FALSE(answers.Offer('y'));  // nobody asks yet: the key is not kept
    platform::ConsoleMessageBox box(m_fd);
    platform::MessageStyle question;
    question.buttons = MessageButtons::YesNo;

    auto first = std::async(std::launch::async, [&] { return box.Show("Q", "one?", question); });
    ASSERT_TRUE(WaitFor([&] { return answers.Waiting(); }));
    auto second = std::async(std::launch::async, [&] { return box.Show("Q", "two?", question); });
    ASSERT_TRUE(WaitFor([&] { return test::ReadFile(m_path).find("two?") != std::string::npos; }));
    EXPECT_FALSE(answers.Offer('x'));
    EXPECT_TRUE(answers.Offer('N'));
    EXPECT_EQ(first.get(), MessageAnswer::No);
    ASSERT_TRUE(WaitFor([&] { return answers.Waiting(); }));
    EXPECT_TRUE(answers.Offer('y'));
    EXPECT_EQ(second.get(), MessageAnswer::Yes);
    EXPECT_FALSE(answers.Waiting());
    EXPECT_NE(test::ReadFile(m_path).find("[Q]\none?\n(Y/N)\n"), std::string::npos);

    // Ok messages never wait for a key.
    EXPECT_EQ(box.Show("Q", "note", {}), MessageAnswer::Ok);
}

TEST_F(ConsoleMessageBoxTest, WithoutATerminalQuestionsAreAnsweredYesAtOnce) {
    auto& answers = ConsoleAnswers::Instance();
    answers.SetTerminalAvailable(true);
    platform::ConsoleMessageBox box(m_fd);
    platform::MessageStyle question;
    question.buttons = MessageButtons::YesNo;
    auto pending =
        std::async(std::launch::async, [&] { return box.Show("Q", "stuck?", question); });
    ASSERT_TRUE(WaitFor([&] { return answers.Waiting(); }));
    answers.SetTerminalAvailable(false);  // e.g. the program turned out to have no console
    EXPECT_EQ(pending.get(), MessageAnswer::Yes);
    EXPECT_EQ(box.Show("Q", "again?", question), MessageAnswer::Yes);

    answers.SetTerminalAvailable(true);
    auto released = std::async(std::launch::async, [&] { return box.Show("Q", "bye?", question); });
    ASSERT_TRUE(WaitFor([&] { return answers.Waiting(); }));
    answers.ReleaseAll();
    EXPECT_EQ(released.get(), MessageAnswer::Yes);
}

}  // namespace
}  // namespace quorvel
