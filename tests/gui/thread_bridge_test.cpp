#include "gui/thread_bridge.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gui_test_util.h"

namespace quorvel {
namespace {

using gui::ThreadBridge;
using test::WaitUntil;

// Thousands of items report to the window at once when a large list starts:
// every waiting worker is let go, and a call that opens a window (an event
// loop of its own) does not hold up the calls queued behind it.
TEST(ThreadBridgeTest, ManyWaitingWorkersAreServedAndANestedLoopDoesNotHoldTheOthers) {
    ThreadBridge& bridge = ThreadBridge::Instance();
    bridge.Reopen();  // a window closed by an earlier test closed it
    std::atomic<int> served{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 300; ++i) {
        workers.emplace_back([&] { EXPECT_TRUE(bridge.Call([&] { ++served; })); });
    }
    EXPECT_TRUE(WaitUntil([&] { return served == 300; }));
    for (auto& w : workers) {
        w.join();
    }

    // Queued without the window's thread looking, so both calls wait in one
    // batch; the first then loops until the second has run.
    const auto queued = [&](std::size_t n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (bridge.Queued() < n && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        return bridge.Queued() >= n;
    };
    std::atomic<bool> second{false}, looped{false}, sawSecond{false};
    std::thread first([&] {
        bridge.Call([&] {
            QEventLoop loop;  // as a message box would
            QElapsedTimer timer;
            timer.start();
            while (!second && timer.elapsed() < 10000) {
                loop.processEvents(QEventLoop::AllEvents, 20);
            }
            sawSecond = second.load();
            looped = true;
        });
    });
    ASSERT_TRUE(queued(1));
    std::thread other([&] { bridge.Call([&] { second = true; }); });
    ASSERT_TRUE(queued(2));
    EXPECT_TRUE(WaitUntil([&] { return looped.load(); }));
    EXPECT_TRUE(sawSecond);
    first.join();
    other.join();
}

}  // namespace
}  // namespace quorvel
