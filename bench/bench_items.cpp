// Scale of the engine: idle cost of many items, loading a large configuration
// and memory per idle item.
//
//   bench_items [idle-seconds]     (default 30)
//
// Each figure is also printed as "RESULT <name> <value> - <unit>" for
// bench/run_all.sh.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <algorithm>
#include <atomic>
#include <vector>

#include "engine/change_notify_thread.h"
#include "engine/check_dir_thread.h"
#include "engine/monitor_process.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

std::string Configuration(int items, const std::string& file) {
    std::string text = MonitorProcess::Header();
    for (int i = 0; i < items; ++i) {
        text += ";;;\nPaused=0\nIsDirectory=0\nFileName=" + file +
                "\nInterval=60\nIfChanged=1\nMustExist=0\nEOF\n";
    }
    return text;
}

bool WaitAllChecked(MonitorProcess& list, std::chrono::seconds deadline) {
    auto end = Clock::now() + deadline;
    for (;;) {
        bool all = true;
        for (int i = 0; i < list.Count() && all; ++i) {
            all = list.Get(i)->CheckCount() >= 1;
        }
        if (all) {
            return true;
        }
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Records when each item's check starts (its first notification of a check).
class CheckStarts : public ItemObserver {
public:
    explicit CheckStarts(int items) : m_starts(static_cast<std::size_t>(items)) {}
    void UpdateStatus(BaseMonitoring& item) override {
        if (item.State() == ItemState::Unknown && m_armed.load()) {
            auto& slot = m_starts[static_cast<std::size_t>(item.Id())];
            long long expected = 0;
            slot.compare_exchange_strong(expected,
                                         Clock::now().time_since_epoch().count());
        }
    }
    void ShowCountdown(BaseMonitoring&) override {}
    void ActionsStarting(BaseMonitoring&) override {}
    void Arm() { m_armed.store(true); }
    long long StartOf(int i) const { return m_starts[static_cast<std::size_t>(i)].load(); }

private:
    std::atomic<bool> m_armed{false};
    std::vector<std::atomic<long long>> m_starts;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return -1.0;
    }
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Many real-time items, each on a directory of its own, on the process's
// one change watcher: set-up per watched directory, memory per item beyond
// one that checks on its interval alone, and the reaction to one change in
// each directory beyond the settle time.
void RealTimeItems(const std::filesystem::path& base, int items) {
    for (int i = 0; i < items; ++i) {
        std::filesystem::create_directories(base / ("d" + std::to_string(i)));
    }
    auto configuration = [&](bool realTime) {
        std::string text = MonitorProcess::Header();
        for (int i = 0; i < items; ++i) {
            text += ";;;\nIsDirectory=1\nFileName=" + (base / ("d" + std::to_string(i))).string() +
                    "\nInterval=3600\nRealTime=" + (realTime ? "1" : "0") + "\nEOF\n";
        }
        return text;
    };
    long plainBytes = 0;
    {
        MonitorProcess list;
        const long before = ResidentBytes();
        list.LoadText(configuration(false));
        WaitAllChecked(list, std::chrono::seconds(60));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        plainBytes = ResidentBytes() - before;
        list.Clear();
        BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
    }
    CheckStarts starts(items);
    MonitorProcess list;
    list.SetObserver(&starts);
    const long before = ResidentBytes();
    const auto setupStart = Clock::now();
    list.LoadText(configuration(true));
    auto allWatching = [&] {
        for (int i = 0; i < list.Count(); ++i) {
            auto* item = dynamic_cast<CheckDirThread*>(list.Get(i).get());
            if (item == nullptr || !item->Watching()) {
                return false;
            }
        }
        return true;
    };
    while (!allWatching() && Clock::now() - setupStart < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double setupSeconds = std::chrono::duration<double>(Clock::now() - setupStart).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double extraKiB = (ResidentBytes() - before - plainBytes) / 1024.0 / items;

    // One new file in each directory, 2 ms apart.
    const double settleMs = ChangeNotifyThread::SettleTime().count() / 1000.0;
    std::vector<long long> written(static_cast<std::size_t>(items));
    starts.Arm();
    for (int i = 0; i < items; ++i) {
        written[static_cast<std::size_t>(i)] = Clock::now().time_since_epoch().count();
        std::ofstream(base / ("d" + std::to_string(i)) / "new.txt") << "x";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto end = Clock::now() + std::chrono::seconds(30);
    std::vector<double> beyond;
    int reacted = 0;
    while (Clock::now() < end) {
        reacted = 0;
        for (int i = 0; i < items; ++i) {
            reacted += starts.StartOf(i) != 0 ? 1 : 0;
        }
        if (reacted == items) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int i = 0; i < items; ++i) {
        if (const long long at = starts.StartOf(i); at != 0) {
            const double ms =
                std::chrono::duration<double, std::milli>(
                    Clock::duration(at - written[static_cast<std::size_t>(i)]))
                    .count();
            beyond.push_back(ms - settleMs);
        }
    }
    const double median = Percentile(beyond, 0.5), p99 = Percentile(beyond, 0.99);
    std::printf("%d real-time items:        %d reacted; beyond the settle time median %.3f ms, "
                "p99 %.3f ms\n",
                items, reacted, median, p99);
    std::printf("  set-up:                   %.3f ms per watched directory (%.2f s in all)\n",
                setupSeconds * 1000.0 / items, setupSeconds);
    std::printf("  memory:                   %.2f KiB per real-time item beyond a plain one\n",
                extraKiB);
    std::printf("RESULT rt1000_reacted %d - items\n", reacted);
    std::printf("RESULT rt1000_beyond_settle_median %.6g - ms\n", median);
    std::printf("RESULT rt1000_beyond_settle_p99 %.6g - ms\n", p99);
    std::printf("RESULT rt1000_setup_per_dir %.6g - ms\n", setupSeconds * 1000.0 / items);
    std::printf("RESULT rt1000_memory_per_item %.6g - KiB\n", extraKiB);
    list.Clear();
    BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
}

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    auto dir = std::filesystem::temp_directory_path() / ("quorvel-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "watched.log").string();
    std::ofstream(file) << "x";
    const std::string config = (dir / "big.mon").string();

    // Loading 10,000 items and their first checks.
    std::ofstream(config) << Configuration(10000, file);
    {
        const long rssBefore = ResidentBytes();
        MonitorProcess list;
        const auto start = Clock::now();
        list.Load(config);
        const double loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        const bool checked = WaitAllChecked(list, std::chrono::seconds(60));
        const double checkedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long rssAfter = ResidentBytes();
        std::printf("load 10000 items:            %.3f s (goal < 1 s)\n", loadSeconds);
        std::printf("all checked once after:      %.3f s (goal < 2 s)%s\n", checkedSeconds,
                    checked ? "" : " NOT ALL CHECKED");
        std::printf("memory per idle item:        %.1f KiB (goal < 64 KiB)\n",
                    (rssAfter - rssBefore) / 10000.0 / 1024.0);
        std::printf("RESULT load_10000_items %.6g - s\n", loadSeconds);
        std::printf("RESULT all_checked_once %.6g - s\n", checked ? checkedSeconds : -1.0);
        std::printf("RESULT memory_per_idle_item %.6g - KiB\n",
                    (rssAfter - rssBefore) / 10000.0 / 1024.0);
        list.Clear();
        BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
    }

    // Idle cost of 1,000 items.
    std::ofstream(config) << Configuration(1000, file);
    {
        MonitorProcess list;
        list.Load(config);
        WaitAllChecked(list, std::chrono::seconds(60));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpuStart = CpuSeconds();
        const auto wallStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double cpu = CpuSeconds() - cpuStart;
        const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
        std::printf("idle 1000 items:             %.4f%% of one core over %.0f s (goal < 1%%)\n",
                    100.0 * cpu / wall, wall);
        std::printf("RESULT idle_1000_items %.6g - cpu-s/s\n", cpu / wall);
        list.Clear();
        BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
    }
    RealTimeItems(dir / "rt", 1000);
    std::filesystem::remove_all(dir);
    return 0;
}
