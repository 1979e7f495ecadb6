#include "engine/monitor_process.h"

#include <thread>

#include "core/activity_log.h"
#include "core/text_util.h"
#include "core/version.h"
#include "engine/check_dir_thread.h"
#include "engine/check_file_thread.h"
#include "platform/paths.h"

namespace quorvel {

namespace {

// Lines are read in pieces of at most this many characters; a longer line
// goes on as a further line.
constexpr std::size_t kMaxLine = 8192;

}  // namespace

std::shared_ptr<BaseMonitoring> CreateItem(ItemKind kind, bool paused,
                                           const std::string& defaultCacheDirectory) {
    switch (kind) {
        case ItemKind::File:
            return CheckFileThread::Create(paused);
        case ItemKind::Directory:
            return CheckDirThread::Create(paused, defaultCacheDirectory);
        case ItemKind::Separator:
            break;
    }
    return nullptr;
}

MonitorProcess::~MonitorProcess() {
    Stop(kStopDeadline);
}

void MonitorProcess::Retire(std::shared_ptr<BaseMonitoring> item) {
    item->RequestStop();
    m_retired.push_back(std::move(item));
}

void MonitorProcess::ReapRetired() {
    std::erase_if(m_retired,
                  [](const std::shared_ptr<BaseMonitoring>& item) { return item->Finished(); });
}

bool MonitorProcess::Stop(std::chrono::milliseconds deadline) {
    Clear();
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (const auto& item : m_retired) {
        while (!item->Finished() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ReapRetired();
    if (m_retired.empty()) {
        return true;
    }
    for (const auto& item : m_retired) {
        LogRecord record;
        record.level = LogLevel::Error;
        record.item = item->Id() + 1;
        record.itemName = item->FileName();
        record.message =
            "The item did not stop within " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(deadline).count()) +
            " s and is left running";
        ActivityLog::Report(std::move(record));
    }
    // Still busy in an action: waiting for them would hang the caller, and
    // freeing them would pull the item from under its worker.
    static auto* abandoned = new std::vector<std::shared_ptr<BaseMonitoring>>;
    abandoned->insert(abandoned->end(), m_retired.begin(), m_retired.end());
    m_retired.clear();
    return false;
}

std::string MonitorProcess::Header() {
    std::string header = std::string("; ") + kProductName + " " + kVersion + " Config File";
    header += platform::kLineEnding;
    header += "; You can edit this file, but be accurate.";
    header += platform::kLineEnding;
    header += platform::kLineEnding;
    return header;
}

bool MonitorProcess::Load(const std::string& path, std::string* content, std::string* error) {
    auto text = platform::ReadWholeFile(path, static_cast<std::size_t>(-1), error);
    if (!text) {
        return false;
    }
    LoadText(*text);
    if (content != nullptr) {
        *content = std::move(*text);
    }
    return true;
}

void ForEachConfigurationBlock(std::string_view text, const ConfigurationBlockVisitor& visit) {
    ForEachNumberedConfigurationBlock(
        text, [&](ItemKind kind, bool paused, const std::vector<std::string>& lines,
                  const std::vector<int>&) { visit(kind, paused, lines); });
}

int ForEachNumberedConfigurationBlock(std::string_view text, const NumberedBlockVisitor& visit) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::vector<std::string> block;
    std::vector<int> numbers;
    IntParam kind("IsDirectory", 0, 0, 2);
    BoolParam paused("Paused", false);
    int lineNumber = 0;

    auto takeLine = [&](std::string_view line, bool emptyLine) {
        if (emptyLine || (!line.empty() && line[0] == ';')) {
            return;
        }
        if (StartsWithIgnoreCase(line, "EOF")) {
            numbers.push_back(lineNumber);
            visit(static_cast<ItemKind>(kind.Value()), paused.Value(), block, numbers);
            block.clear();
            numbers.clear();
            kind.Reset();
            paused.Reset();
            return;
        }
        block.emplace_back(line);
        numbers.push_back(lineNumber);
        kind.ParseLine(line);
        paused.ParseLine(line);
    };

    std::size_t pos = 0;
    while (pos < text.size()) {
        ++lineNumber;
        std::size_t end = text.find('\n', pos);
        const bool terminated = end != std::string_view::npos;
        if (!terminated) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = terminated ? end + 1 : end;
        if (terminated && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            takeLine(line, terminated);
            continue;
        }
        // An overlong line is read as several lines.
        while (!line.empty()) {
            const std::size_t n = std::min(line.size(), kMaxLine);
            takeLine(line.substr(0, n), false);
            line.remove_prefix(n);
        }
    }
    return numbers.empty() ? 0 : numbers.front();
}

void MonitorProcess::LoadText(std::string_view text) {
    ForEachConfigurationBlock(
        text, [&](ItemKind kind, bool paused, const std::vector<std::string>& lines) {
            if (auto item = Add(kind, paused)) {
                item->ReadSettings(lines);
                StartItem(item, paused);
            }
        });
}

void MonitorProcess::StartItem(const std::shared_ptr<BaseMonitoring>& item, bool paused) {
    item->SetObserver(m_observer);
    item->Start();
    if (!paused && !m_allPaused) {
        item->Resume();
    }
}

bool MonitorProcess::SaveTo(platform::OutputSink& sink,
                            const std::function<bool(int)>& selected) const {
    bool ok = sink.Write(Header());
    std::string block;
    for (int i = 0; i < Count() && ok; ++i) {
        if (selected && !selected(i)) {
            continue;
        }
        block.clear();
        block += ";;;";
        block += platform::kLineEnding;
        if (const auto& item = m_entries[static_cast<std::size_t>(i)]) {
            item->WriteSettings(block);
        } else {
            block += "IsDirectory=2";
            block += platform::kLineEnding;
        }
        block += "EOF";
        block += platform::kLineEnding;
        ok = sink.Write(block);
    }
    return ok;
}

bool MonitorProcess::Save(const std::string& path, const std::function<bool(int)>& selected,
                          std::string* error) const {
    platform::AtomicFile file;
    if (file.Open(path) && SaveTo(file, selected) && file.Commit()) {
        return true;
    }
    if (error != nullptr) {
        *error = file.Error();
    }
    return false;
}

std::shared_ptr<BaseMonitoring> MonitorProcess::Add(ItemKind kind, bool paused) {
    ReapRetired();
    auto item = CreateItem(kind, paused, m_cacheDirectory);
    if (item) {
        item->SetKind(kind);
        item->SetId(Count());
        item->SetObserver(m_observer);
    }
    m_entries.push_back(item);
    return item;
}

void MonitorProcess::Delete(int index) {
    if (index < 0 || index >= Count()) {
        return;
    }
    ReapRetired();
    if (auto& item = m_entries[static_cast<std::size_t>(index)]) {
        Retire(std::move(item));
    }
    m_entries.erase(m_entries.begin() + index);
    for (int i = index; i < Count(); ++i) {
        if (const auto& item = m_entries[static_cast<std::size_t>(i)]) {
            item->SetId(i);
        }
    }
}

bool MonitorProcess::Move(int from, int to) {
    if (from < 0 || to < 0 || from >= Count() || to >= Count() || from == to) {
        return false;
    }
    auto entry = m_entries[static_cast<std::size_t>(from)];
    m_entries.erase(m_entries.begin() + from);
    m_entries.insert(m_entries.begin() + to, std::move(entry));
    for (int i = std::min(from, to); i <= std::max(from, to); ++i) {
        if (const auto& item = m_entries[static_cast<std::size_t>(i)]) {
            item->SetId(i);
        }
    }
    return true;
}

void MonitorProcess::Clear() {
    ReapRetired();
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (*it) {
            Retire(std::move(*it));
        }
    }
    m_entries.clear();
}

std::shared_ptr<BaseMonitoring> MonitorProcess::Get(int index) const {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return m_entries[static_cast<std::size_t>(index)];
}

void MonitorProcess::SetAllPaused(bool paused) {
    if (paused == m_allPaused) {
        return;
    }
    m_allPaused = paused;
    for (const auto& item : m_entries) {
        if (!item || item->Paused()) {
            continue;
        }
        if (paused) {
            item->Suspend();
        } else {
            item->Resume();
        }
    }
}

}  // namespace quorvel
