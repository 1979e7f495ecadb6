#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console/console_message_box.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using test::WaitFor;

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
    ConsoleMessageBox box(m_fd);
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
    ConsoleMessageBox box(m_fd);
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
    ConsoleMessageBox box(m_fd);
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

// A name in a message reaches the terminal as text: escape sequences and
// control characters of the data are shown escaped, the message keeps its
// lines, and text in other scripts stays as it is.
TEST_F(ConsoleMessageBoxTest, ControlCharactersOfTheDataAreShownEscaped) {
    ConsoleMessageBox box(m_fd);
    box.Show("T\x1b[2J", "New: \x1b]0;owned\x07 x\x7f\xc2\x9b\xff\r\nZeile 2: \xc3\xa4\t.", {});
    EXPECT_EQ(test::ReadFile(m_path),
              "[T\\x1b[2J]\nNew: \\x1b]0;owned\\x07 x\\x7f\\u009b\\xff\nZeile 2: \xc3\xa4\t.\n");
}

}  // namespace
}  // namespace quorvel
