#include "console/configuration_commands.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "console/console_message_box.h"
#include "console/runner.h"
#include "core/activity_log.h"
#include "core/text_util.h"
#include "engine/base_monitoring.h"
#include "engine/configuration_check.h"
#include "engine/item_description.h"
#include "engine/monitor_process.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "settings/adv_string_list.h"
#include "settings/options.h"

namespace quorvel {

namespace {

std::string Text(int index, std::initializer_list<std::string_view> arguments = {}) {
    return FillPlaceholders(Strings().OemText(index), arguments);
}

/// A line for the terminal: no name in it can act as a control sequence.
void PrintLine(const std::string& text) {
    Print(EscapeControls(text) + "\n");
}

/// The configuration's text, or nothing after printing why not.
std::optional<std::string> ReadConfiguration(const std::string& path) {
    auto text = platform::ReadWholeFile(path);
    if (!text) {
        Print(LoadFailureText(path) + "\n");
    }
    return text;
}

std::string PathOf(const std::optional<std::string>& config) {
    return config ? *config : platform::DefaultConfigurationFile(false);
}

/// Counts the failures the activity log reports.
class ErrorCounter : public LogSink {
public:
    void Write(const LogRecord& record) override {
        if (record.level == LogLevel::Error) {
            m_errors.fetch_add(1, std::memory_order_relaxed);
        }
    }
    int Errors() const { return m_errors.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_errors{0};
};

struct Entry {
    std::shared_ptr<BaseMonitoring> item;  // none: a separator
    bool paused = false;
};

/// The entries of a configuration text, read but not started.
std::vector<Entry> ReadEntries(std::string_view text) {
    std::vector<Entry> entries;
    const std::string cacheDirectory = Options::Instance().CacheDirectory();
    ForEachConfigurationBlock(
        text, [&](ItemKind kind, bool paused, const std::vector<std::string>& lines) {
            Entry entry{CreateItem(kind, paused, cacheDirectory), paused};
            if (entry.item) {
                entry.item->SetKind(kind);
                entry.item->SetId(static_cast<int>(entries.size()));
                entry.item->ReadSettings(lines);
            }
            entries.push_back(std::move(entry));
        });
    return entries;
}

}  // namespace

int RunCheck(const std::optional<std::string>& config) {
    const std::string path = PathOf(config);
    const auto text = ReadConfiguration(path);
    if (!text) {
        return 1;
    }
    int errors = 0;
    int warnings = 0;
    auto problems = CheckConfiguration(*text, Options::Instance().CacheDirectory());
    // In the order of the file's lines.
    std::stable_sort(problems.begin(), problems.end(),
                     [](const auto& a, const auto& b) { return a.line < b.line; });
    for (const auto& problem : problems) {
        const bool error = problem.severity == ProblemSeverity::Error;
        (error ? errors : warnings) += 1;
        std::string line = path + ":" + std::to_string(problem.line) + ": ";
        if (problem.item > 0) {
            line += Text(lngCheckItem, {std::to_string(problem.item), problem.itemName}) + ": ";
        }
        line += Text(error ? lngCheckError : lngCheckWarning) + ": " + problem.message;
        PrintLine(line);
    }
    PrintLine(Text(lngCheckSummary, {path, std::to_string(errors), std::to_string(warnings)}));
    return errors > 0 ? 1 : 0;
}

int RunOnce(const std::optional<std::string>& config, bool honourSchedule) {
    const std::string path = PathOf(config);
    const auto text = ReadConfiguration(path);
    if (!text) {
        return 1;
    }
    // Nobody answers questions here: they are answered at once.
    ConsoleAnswers::Instance().SetTerminalAvailable(false);
    auto counter = std::make_shared<ErrorCounter>();
    ActivityLog::Attachment counting(counter);
    const std::vector<Entry> entries = ReadEntries(*text);

    std::mutex mutex;
    bool stopping = false;
    BaseMonitoring* running = nullptr;  // guarded by mutex
    platform::SignalListener listener([&](platform::ProcessSignal signal) {
        if (signal == platform::ProcessSignal::Pause ||
            signal == platform::ProcessSignal::Continue) {
            return;
        }
        std::lock_guard lock(mutex);
        stopping = true;
        if (running != nullptr) {
            running->RequestStop();
        }
    });

    int items = 0;
    int acted = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (!entry.item) {
            continue;
        }
        ++items;
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                break;
            }
            running = entry.item.get();
        }
        const std::string number = std::to_string(i + 1);
        const std::string name = entry.item->FileName();
        if (entry.paused) {
            PrintLine(Text(lngOncePaused, {number, name}));
            continue;
        }
        switch (entry.item->CheckOnce(honourSchedule)) {
            case OnceOutcome::OutsideSchedule:
                PrintLine(Text(lngOnceWaiting, {number, name}));
                break;
            case OnceOutcome::Quiet:
                PrintLine(Text(lngOnceQuiet, {number, name}));
                break;
            case OnceOutcome::Acted:
                ++acted;
                PrintLine(Text(lngOnceActed, {number, name}));
                break;
        }
        std::lock_guard lock(mutex);
        running = nullptr;
    }
    bool stopped = false;
    {
        std::lock_guard lock(mutex);
        stopped = stopping;
    }
    PrintLine(Text(lngOnceSummary, {std::to_string(acted), std::to_string(items)}));
    if (stopped || counter->Errors() > 0) {
        return 1;
    }
    return acted > 0 ? 2 : 0;
}

int RunDescribe(const std::optional<std::string>& config) {
    const std::string path = PathOf(config);
    const auto text = ReadConfiguration(path);
    if (!text) {
        return 1;
    }
    const std::vector<Entry> entries = ReadEntries(*text);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) {
            Print("\n");
        }
        for (const auto& line :
             DescribeEntry(entries[i].item.get(), static_cast<int>(i) + 1, entries[i].paused)) {
            PrintLine(std::string(static_cast<std::size_t>(line.depth) * 2, ' ') + line.text);
        }
    }
    return 0;
}

}  // namespace quorvel
