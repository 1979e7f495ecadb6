// The desktop program's scale, on the offscreen platform: loading and showing
// 10,000 items beside the console program's load of the same file, one
// refresh tick over 10,000 rows, the window's event latency while 1,000 items
// trigger every second, and memory per row beyond the engine's items.
//
//   bench_gui [latency-seconds]     (default 10)
//
// Each figure is also printed as "RESULT <name> <value> <peer> <unit>" for
// bench/run_all.sh.
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/base_monitoring.h"
#include "engine/monitor_process.h"
#include "gui/item_list_model.h"
#include "gui/item_list_view.h"
#include "gui/main_form.h"
#include "settings/options.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// Items on one unchanging file: quiet ones (they look for a change once a
// minute) or busy ones (they act every second because it did not change).
std::string Configuration(int items, const std::string& file, const std::string& listDir) {
    std::string text = MonitorProcess::Header();
    for (int i = 0; i < items; ++i) {
        text += ";;;\nPaused=0\nIsDirectory=0\nFileName=" + file;
        if (listDir.empty()) {
            text += "\nInterval=60\nIfChanged=1\nMustExist=0\nEOF\n";
        } else {
            text += "\nInterval=1\nIfChanged=0\nMustExist=0\n;\nAction=0\nEnabled=1\nListName=" +
                    listDir + "/list" + std::to_string(i) + ".txt\nListParams=%File\nEOF\n";
        }
    }
    return text;
}

struct Load {
    double seconds = 0;  // loaded, items started
    double checked = 0;  // every item checked once
    long bytes = 0;      // resident memory added
};

bool AllChecked(MonitorProcess& list) {
    for (int i = 0; i < list.Count(); ++i) {
        if (list.Get(i) && list.Get(i)->CheckCount() < 1) {
            return false;
        }
    }
    return true;
}

// Every row shows its item's present state, a known one.
bool AllShown(gui::MainForm& form) {
    MonitorProcess& list = form.List();
    for (int i = 0; i < list.Count(); ++i) {
        const ItemState shown = form.Model().StateAt(i);
        if (list.Get(i) && (shown == ItemState::Unknown || shown != list.Get(i)->State())) {
            return false;
        }
    }
    return true;
}

// The console program's way: the list loaded and its items started.
Load ConsoleLoad(const std::string& config) {
    const long before = ResidentBytes();
    MonitorProcess list;
    const auto start = Clock::now();
    list.Load(config);
    Load load{Seconds(Clock::now() - start), 0, 0};
    while (!AllChecked(list) && Clock::now() - start < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    load.checked = Seconds(Clock::now() - start);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    load.bytes = ResidentBytes() - before;
    list.Clear();
    BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
    return load;
}

// Measured in a child of its own, so that neither load inherits the other's
// freed memory.
Load InChild(const std::string& config) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const Load load = ConsoleLoad(config);
        [[maybe_unused]] ssize_t n = ::write(fds[1], &load, sizeof(load));
        ::_exit(0);
    }
    ::close(fds[1]);
    Load load;
    if (::read(fds[0], &load, sizeof(load)) != static_cast<ssize_t>(sizeof(load))) {
        load = {};
    }
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return load;
}

void ProcessFor(std::chrono::milliseconds span) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// How long events posted to the window's thread wait before they run, while
// the items report to it: one posted every 2 ms from a thread of our own.
std::vector<double> EventLatencies(std::chrono::seconds span) {
    std::mutex mutex;
    std::vector<double> delays;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop.load()) {
            const auto posted = Clock::now();
            QMetaObject::invokeMethod(
                qApp,
                [&, posted] {
                    std::lock_guard lock(mutex);
                    delays.push_back(Seconds(Clock::now() - posted) * 1000);
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ProcessFor(span);
    stop = true;
    poster.join();
    ProcessFor(std::chrono::milliseconds(200));
    std::lock_guard lock(mutex);
    return delays;
}

}  // namespace

int main(int argc, char** argv) {
    const int latencySeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const fs::path dir =
        fs::temp_directory_path() / ("quorvel-bench-gui-" + std::to_string(getpid()));
    fs::create_directories(dir / "lists");
    // Options, positions and caches of the run's own.
    ::setenv("HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string file = (dir / "watched.log").string();
    std::ofstream(file) << "x";
    const std::string quiet = (dir / "quiet.mon").string();
    const std::string busy = (dir / "busy.mon").string();
    std::ofstream(quiet) << Configuration(10000, file, "");
    std::ofstream(busy) << Configuration(1000, file, (dir / "lists").string());

    // Before any thread exists, so the child is a clean copy.
    const Load console = InChild(quiet);

    QApplication app(argc, argv);
    Options::Instance().LoadAll();
    {
        auto form = std::make_unique<gui::MainForm>();
        form->show();
        ProcessFor(std::chrono::milliseconds(200));
        const long before = ResidentBytes();
        const auto start = Clock::now();
        form->LoadConfiguration(QString::fromStdString(quiet));
        form->ShowConfigName();
        // Every row laid out and the visible ones painted.
        form->View().scrollToBottom();
        form->View().viewport()->repaint();
        form->View().scrollToTop();
        form->View().viewport()->repaint();
        const double shown = Seconds(Clock::now() - start);
        // Every item checked once and its state on its row.
        while (!(AllChecked(form->List()) && AllShown(*form)) &&
               Clock::now() - start < std::chrono::seconds(60)) {
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        const double checked = Seconds(Clock::now() - start);
        const int rows = form->Model().rowCount();
        ProcessFor(std::chrono::milliseconds(1000));
        const double perRow =
            static_cast<double>(ResidentBytes() - before - console.bytes) / 10000.0 / 1024.0;

        std::vector<double> ticks;
        for (int i = 0; i < 100; ++i) {
            const auto t = Clock::now();
            form->RefreshTick();
            QApplication::processEvents();
            ticks.push_back(Seconds(Clock::now() - t) * 1000);
        }
        std::printf(
            "load and show 10000 items:   %.3f s, %d rows (goal < 1 s and <= 1.5 x the "
            "console's load, %.3f s: %.2f x)\n",
            shown, rows, console.seconds, shown / std::max(1e-9, console.seconds));
        std::printf(
            "  every item checked once and its state shown: %.3f s (goal <= 1.5 x the console's "
            "checks, "
            "%.3f s: %.2f x)\n",
            checked, console.checked, checked / std::max(1e-9, console.checked));
        std::printf("refresh tick over 10000 rows: median %.2f ms, p99 %.2f ms (goal < 10 ms)\n",
                    Percentile(ticks, 0.5), Percentile(ticks, 0.99));
        std::printf("memory per row beyond the engine's item: %.2f KiB (goal < 4 KiB)\n", perRow);
        std::printf("RESULT gui_load_10000_items %.6g %.6g s\n", shown, console.seconds);
        std::printf("RESULT gui_checked_10000_items %.6g %.6g s\n", checked, console.checked);
        std::printf("RESULT gui_refresh_tick_median %.6g - ms\n", Percentile(ticks, 0.5));
        std::printf("RESULT gui_refresh_tick_p99 %.6g - ms\n", Percentile(ticks, 0.99));
        std::printf("RESULT gui_memory_per_row %.6g - KiB\n", perRow);
        std::fflush(stdout);
    }
    BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));

    {
        auto form = std::make_unique<gui::MainForm>();
        form->show();
        form->LoadConfiguration(QString::fromStdString(busy));
        ProcessFor(std::chrono::milliseconds(2000));
        const std::vector<double> delays = EventLatencies(std::chrono::seconds(latencySeconds));
        std::printf(
            "event latency, 1000 items acting every second: median %.2f ms, p99 %.2f ms, "
            "max %.2f ms over %zu events (goal p99 < 50 ms)\n",
            Percentile(delays, 0.5), Percentile(delays, 0.99), Percentile(delays, 1.0),
            delays.size());
        std::printf("RESULT gui_event_latency_p99 %.6g - ms\n", Percentile(delays, 0.99));
        std::printf("RESULT gui_event_latency_median %.6g - ms\n", Percentile(delays, 0.5));
    }
    BaseMonitoring::WaitForWorkers(std::chrono::seconds(30));
    fs::remove_all(dir);
    return 0;
}
