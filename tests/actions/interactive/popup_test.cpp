#include <gtest/gtest.h>

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
    // A window shown without waiting stays open until released.
    void Notify(const std::string&, const std::string& text,
                const platform::MessageStyle&) override {
        std::lock_guard lock(m_mutex);
        m_open.push_back(text);
        ++m_notified;
        m_changed.notify_all();
    }
    void ReleaseAll() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_closed += m_notified;
        m_notified = 0;
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
    int m_notified = 0;
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

}  // namespace
}  // namespace quorvel
