#include "settings/adv_string_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace quorvel {
namespace {

TEST(AdvStringListTest, BuiltInTable) {
    AdvStringList table;
    ASSERT_EQ(table.Count(), lngCount);
    EXPECT_EQ(table.Text(-1), "");
    EXPECT_EQ(table.Text(lngCount), "");
    EXPECT_EQ(table.Key(-1), "");
    EXPECT_EQ(table.Key(lngCount), "");

    EXPECT_EQ(table.Key(lngCantLoad), "lngCantLoad");
    EXPECT_EQ(table.Text(lngCantLoad), "Can not load configuration file");
    EXPECT_EQ(table.Key(lngStopped), "lngStopped");
    EXPECT_EQ(lngStopped, 30);
    EXPECT_EQ(table.Text(lngCopy), "Copy: ");
    EXPECT_EQ(table.Text(lngLoaded), "Configuration file \"%s\" is loaded.");
    EXPECT_EQ(lngLoaded, 50);
    EXPECT_EQ(table.Text(lngStarted), "Monitoring started. Press 'X' to exit.");
    EXPECT_EQ(table.Key(lngGoToMS_2), "lngGoToMS_2");
    EXPECT_EQ(table.Text(lngNoAnyCaption), "If no&thing changed (all of above)");
    EXPECT_EQ(table.Key(lngStopSvcError), "lngStopSvcError");
    EXPECT_EQ(lngStopSvcError, 59);
    EXPECT_EQ(table.Text(lngStopSvcError), "Can not stop service.");

    std::set<std::string> keys;
    for (int i = 0; i < table.Count(); ++i) {
        EXPECT_EQ(table.Key(i).rfind("lng", 0), 0u) << i;
        EXPECT_FALSE(table.Text(i).empty()) << i;
        EXPECT_EQ(table.OemText(i), table.Text(i));
        EXPECT_EQ(table.BuiltInText(i), table.Text(i));
        keys.insert(table.Key(i));
    }
    EXPECT_EQ(keys.size(), static_cast<std::size_t>(lngCount)) << "keys are unique";
}

TEST(AdvStringListTest, SetTextsReplacesTheTableAndResetRestoresIt) {
    AdvStringList table;
    table.SetTexts({"eins", "zwei"});
    EXPECT_EQ(table.Text(0), "eins");
    EXPECT_EQ(table.Text(1), "zwei");
    EXPECT_EQ(table.Text(2), "Program files") << "entries not given keep their text";

    std::vector<std::string> all(70, "x");
    table.SetTexts(all);
    EXPECT_EQ(table.Texts().size(), static_cast<std::size_t>(lngCount));
    EXPECT_EQ(table.Text(lngCount), "");

    table.Reset();
    EXPECT_EQ(table.Text(0), "Can not load configuration file");
}

TEST(AdvStringListTest, ReadersNeverSeeAHalfReplacedText) {
    AdvStringList table;
    const std::vector<std::string> english = table.Texts();
    std::vector<std::string> other;
    for (int i = 0; i < table.Count(); ++i) {
        other.push_back(std::string(200 + i, static_cast<char>('a' + i % 26)));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            int i = r;
            while (!stop.load()) {
                const std::string text = table.Text(i);
                if (text != english[i] && text != other[i]) {
                    ++bad;
                }
                i = (i + 7) % table.Count();
            }
        });
    }
    for (int round = 0; round < 1000; ++round) {
        table.SetTexts(round % 2 ? english : other);
    }
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(bad.load(), 0);
}

TEST(AdvStringListTest, ProcessTableIsOneObject) {
    EXPECT_EQ(&Strings(), &AdvStringList::Instance());
    EXPECT_EQ(Strings().Count(), lngCount);
}

}  // namespace
}  // namespace quorvel
