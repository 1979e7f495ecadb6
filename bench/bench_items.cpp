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
    std::filesystem::remove_all(dir);
    return 0;
}
