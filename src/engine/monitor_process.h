#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base_monitoring.h"
#include "platform/file_system.h"

namespace quorvel {

/// The ordered list of entries (items and separators) of one configuration.
/// Operations run on one owner thread; items run on their own workers.
class MonitorProcess {
public:
    MonitorProcess() = default;
    ~MonitorProcess();
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;

    /// Reads a configuration file and appends its entries; each item starts
    /// as soon as its block is read unless it or the whole list is paused.
    /// False only when the file cannot be opened. content, when given,
    /// receives the bytes that were read; error, why the file could not be
    /// read (empty when it does not exist).
    bool Load(const std::string& path, std::string* content = nullptr,
              std::string* error = nullptr);
    /// Reads a configuration from text (the same rules as Load).
    void LoadText(std::string_view text);
    /// Writes all entries (or those selected) to a file atomically; false
    /// when anything failed, the old file then being left whole, with the
    /// reason in error when given. A new file gets 0666 less the umask.
    bool Save(const std::string& path, const std::function<bool(int)>& selected = {},
              std::string* error = nullptr) const;
    /// Writes the configuration to a sink; false when a write failed.
    bool SaveTo(platform::OutputSink& sink, const std::function<bool(int)>& selected = {}) const;

    /// Appends an item of the kind or a separator; the new item is not
    /// started. Answers the item, or none for a separator.
    std::shared_ptr<BaseMonitoring> Add(ItemKind kind, bool paused);
    /// Stops and removes the entry at index.
    void Delete(int index);
    bool Move(int from, int to);
    /// Stops every item, last entry first, and empties the list. Never waits:
    /// the items are kept until their workers have ended.
    void Clear();
    /// Stops every item and waits up to deadline for their workers to end;
    /// those that did not are named in the activity log and left running
    /// (false). The destructor does it with kStopDeadline.
    bool Stop(std::chrono::milliseconds deadline);
    static constexpr std::chrono::seconds kStopDeadline{5};
    std::shared_ptr<BaseMonitoring> Get(int index) const;
    int Count() const { return static_cast<int>(m_entries.size()); }

    void SetAllPaused(bool paused);
    bool AllPaused() const { return m_allPaused; }

    /// The cache directory of directory items that name none (the program's
    /// option); empty means the user's cache directory.
    void SetDefaultCacheDirectory(std::string directory) {
        m_cacheDirectory = std::move(directory);
    }

    /// Observer handed to every item created from now on.
    void SetObserver(ItemObserver* observer) { m_observer = observer; }

    /// The text written at the start of every configuration file.
    static std::string Header();

private:
    void StartItem(const std::shared_ptr<BaseMonitoring>& item, bool paused);
    /// Asks the item to stop and keeps it until its worker has ended.
    void Retire(std::shared_ptr<BaseMonitoring> item);
    /// Lets go of the stopped items whose workers have ended.
    void ReapRetired();

    std::vector<std::shared_ptr<BaseMonitoring>> m_entries;  // none = separator
    std::vector<std::shared_ptr<BaseMonitoring>> m_retired;
    bool m_allPaused = false;
    ItemObserver* m_observer = nullptr;
    std::string m_cacheDirectory;
};

/// Called for every complete block of a configuration text with its
/// "IsDirectory" and "Paused" values and its lines.
using ConfigurationBlockVisitor =
    std::function<void(ItemKind kind, bool paused, const std::vector<std::string>& lines)>;

/// Splits a configuration text into blocks: comment and empty lines are
/// skipped, "EOF" ends a block, lines over 8192 characters are read as
/// several lines, and lines after the last "EOF" are dropped.
void ForEachConfigurationBlock(std::string_view text, const ConfigurationBlockVisitor& visit);

/// A block visitor that also learns where each line stands in the text:
/// lineNumbers[i] is the number (from 1) of lines[i], and one more entry
/// gives the number of the block's "EOF" line.
using NumberedBlockVisitor =
    std::function<void(ItemKind kind, bool paused, const std::vector<std::string>& lines,
                       const std::vector<int>& lineNumbers)>;

/// ForEachConfigurationBlock with line numbers. Answers the number of the
/// first line dropped after the last "EOF", or 0 when none was.
int ForEachNumberedConfigurationBlock(std::string_view text, const NumberedBlockVisitor& visit);

/// Creates an item of the kind; a separator gives none. Directory items get
/// the default cache directory (empty: the user's cache directory).
std::shared_ptr<BaseMonitoring> CreateItem(ItemKind kind, bool paused,
                                           const std::string& defaultCacheDirectory = {});

}  // namespace quorvel
