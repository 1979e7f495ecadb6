#include "engine/configuration_check.h"

#include <map>
#include <optional>

#include "actions/exec_action.h"
#include "actions/file_op_action.h"
#include "actions/list_action.h"
#include "actions/macro_expander.h"
#include "actions/sound_action.h"
#include "core/mask_list.h"
#include "core/text_util.h"
#include "engine/cache_file.h"
#include "engine/monitor_process.h"
#include "engine/schedule.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sound_player.h"
#include "platform/watch_service.h"
#include "settings/adv_string_list.h"

namespace quorvel {

namespace {

std::string Text(int index, std::initializer_list<std::string_view> arguments = {}) {
    return FillPlaceholders(Strings().Text(index), arguments);
}

std::vector<std::string> SplitMasks(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(";\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            pieces.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

// What ReadCInteger takes whole: blanks, an optional sign and digits.
bool IsWholeNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
    }
    return i > digits && i == text.size();
}

// The directory a file of that name lands in.
std::string DirectoryOf(const std::string& name) {
    const auto slash = name.rfind(platform::kPathSeparator);
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? name.substr(0, 1) : name.substr(0, slash);
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == platform::kPathSeparator) {
        path.pop_back();
    }
    return path;
}

class Checker {
public:
    explicit Checker(std::string defaultCacheDirectory)
        : m_defaultCacheDirectory(std::move(defaultCacheDirectory)),
          m_watchLimit(platform::WatchLimitPerUser()) {}

    void Block(ItemKind kind, bool paused, const std::vector<std::string>& lines,
               const std::vector<int>& numbers) {
        ++m_entry;
        auto item = CreateItem(kind, paused, m_defaultCacheDirectory);
        if (!item) {
            return;  // a separator
        }
        item->SetKind(kind);
        m_lineOf.clear();
        m_itemLine = numbers.front();
        m_item = item.get();
        std::vector<std::pair<std::size_t, const Param*>> taken;
        std::vector<std::size_t> dropped;
        item->ReadSettings(lines, [&](const SettingsLineUse& use) {
            if (use.param == nullptr) {
                dropped.push_back(use.line);
                return;
            }
            taken.emplace_back(use.line, use.param);
            m_lineOf[use.param] = numbers[use.line];
        });
        m_name = item->FileName();

        // What the lines say, in their order.
        std::size_t d = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int line = numbers[i];
            if (d < dropped.size() && dropped[d] == i) {
                ++d;
                DroppedLine(lines[i], line);
                continue;
            }
            for (const auto& [index, param] : taken) {
                if (index == i) {
                    CheckValue(*param, std::string_view(lines[i]).substr(param->Key().size() + 1),
                               line);
                }
            }
        }

        // What the settings meet on this machine.
        const ParamList& params = item->Params();
        if (kind == ItemKind::File) {
            CheckFilePath();
        } else {
            CheckDirectory(params);
        }
        const auto actions = item->Actions();
        for (std::size_t a = 0; a < actions->size(); ++a) {
            const Action& action = *(*actions)[a];
            if (action.Enabled()) {
                CheckAction(action, static_cast<int>(a) + 1);
            }
        }
        m_item = nullptr;
    }

    void Add(int line, ProblemSeverity severity, std::string message, bool ofItem = true) {
        ConfigurationProblem problem;
        problem.line = line;
        if (ofItem) {
            problem.item = m_entry;
            problem.itemName = m_name;
        }
        problem.severity = severity;
        problem.message = std::move(message);
        m_problems.push_back(std::move(problem));
    }

    std::vector<ConfigurationProblem> Take() { return std::move(m_problems); }

private:
    /// The line that set the key, else fallback (the block's first line).
    int LineOf(const ParamList& params, std::string_view key, int fallback = 0) const {
        const auto it = m_lineOf.find(params.Find(key));
        if (it != m_lineOf.end()) {
            return it->second;
        }
        return fallback > 0 ? fallback : m_itemLine;
    }

    void DroppedLine(const std::string& text, int line) {
        const auto equals = text.find('=');
        const std::string key = text.substr(0, equals);
        if (equals != std::string::npos && EqualsIgnoreCase(key, "Paused")) {
            // Read by the loader, not by the item.
            CheckValue(BoolParam("Paused", false), std::string_view(text).substr(equals + 1), line);
            return;
        }
        Add(line, ProblemSeverity::Warning, Text(lngCheckUnknownKey, {key}));
    }

    void CheckValue(const Param& param, std::string_view raw, int line) {
        const std::string& key = param.Key();
        if (const auto* p = dynamic_cast<const IntParam*>(&param)) {
            const long long value = ReadCInteger(raw);
            const bool inRange = value >= p->Minimum() && value <= p->Maximum();
            const std::string used = std::to_string(inRange ? value : p->Minimum());
            if (!IsWholeNumber(raw)) {
                Add(line, ProblemSeverity::Warning, Text(lngCheckNotNumber, {key, raw, used}));
            } else if (!inRange) {
                Add(line, ProblemSeverity::Warning,
                    Text(lngCheckOutOfRange, {key, TrimBlanks(raw), std::to_string(p->Minimum()),
                                              std::to_string(p->Maximum()), used}));
            }
        } else if (dynamic_cast<const BoolParam*>(&param) != nullptr) {
            if (raw != "0" && raw != "1" && !EqualsIgnoreCase(raw, "true") &&
                !EqualsIgnoreCase(raw, "false")) {
                Add(line, ProblemSeverity::Warning, Text(lngCheckNotBoolean, {key, raw, "0"}));
            }
        } else if (const auto* s = dynamic_cast<const StringParam*>(&param)) {
            if (s->LengthLimit() > 0 && raw.size() < static_cast<std::size_t>(s->LengthLimit())) {
                StringParam padded(key, "", s->LengthLimit());
                padded.SetFromString(raw);
                Add(line, ProblemSeverity::Warning,
                    Text(lngCheckShortText,
                         {key, raw, std::to_string(s->LengthLimit()), padded.Value()}));
            }
            if (EqualsIgnoreCase(key, "ExcludedDates") || EqualsIgnoreCase(key, "IncludedDates")) {
                CheckDates(key, raw, line);
            }
        } else if (EqualsIgnoreCase(key, "TimeInterval") && !Schedule::ParseWindow(raw)) {
            Add(line, ProblemSeverity::Warning, Text(lngCheckBadWindow, {raw}));
        }
    }

    void CheckDates(const std::string& key, std::string_view raw, int line) {
        std::size_t start = 0;
        while (start <= raw.size()) {
            std::size_t end = raw.find_first_of(",;", start);
            if (end == std::string_view::npos) {
                end = raw.size();
            }
            const std::string_view piece = TrimBlanks(raw.substr(start, end - start));
            if (!piece.empty() && Schedule::ParseDateList(piece).empty()) {
                Add(line, ProblemSeverity::Warning, Text(lngCheckBadDate, {key, piece}));
            }
            start = end + 1;
        }
    }

    void CheckFilePath() {
        const ParamList& params = m_item->Params();
        const int line = LineOf(params, "FileName");
        if (m_name.empty()) {
            Add(line, ProblemSeverity::Error, Text(lngCheckNoFileName));
            return;
        }
        const std::string path = ExpandRecord(FileData::Placeholder(), m_name);
        const std::string directory = DirectoryOf(path);
        const auto slash = path.rfind(platform::kPathSeparator);
        const bool pattern =
            HasWildcards(slash == std::string::npos ? path : path.substr(slash + 1));
        if (!pattern && platform::Stat(path)) {
            return;
        }
        if (platform::Stat(directory) && !platform::CanRead(directory)) {
            Add(line, ProblemSeverity::Error, Text(lngCheckUnreadable, {directory}));
        } else if (!pattern) {
            // The item may be there to tell when it is missing.
            Add(line, ProblemSeverity::Warning, Text(lngCheckMissing, {path}));
        } else if (!platform::Stat(directory)) {
            Add(line, ProblemSeverity::Warning, Text(lngCheckMissing, {directory}));
        }
    }

    void CheckDirectory(const ParamList& params) {
        const int line = LineOf(params, "FileName");
        const FileData context = FileData::Placeholder();
        const std::string path = WithoutTrailingSeparator(
            m_name.empty() ? platform::CurrentDirectory() : ExpandRecord(context, m_name));
        const auto info = platform::Stat(path);
        bool readable = false;
        if (!info) {
            Add(line, ProblemSeverity::Error, Text(lngCheckMissing, {path}));
        } else if (!info->isDirectory) {
            Add(line, ProblemSeverity::Error, Text(lngCheckNotDirectory, {path}));
        } else if (!platform::CanRead(path)) {
            Add(line, ProblemSeverity::Error, Text(lngCheckUnreadable, {path}));
        } else {
            readable = true;
        }
        CheckMasks(params, context);
        if (readable && params.FlagAt("RealTime")) {
            CheckWatches(params, path);
        }
        if (params.FlagAt("CacheData")) {
            CheckCache(params);
        }
    }

    void CheckMasks(const ParamList& params, const FileData& context) {
        const std::string mask = ExpandRecord(context, params.StringAt("Mask"));
        const std::string exclude = ExpandRecord(context, params.StringAt("ExcludeMask"));
        const bool fullPath = params.FlagAt("FullPathMask");
        const auto pieces = SplitMasks(mask);
        const auto excluded = SplitMasks(exclude);
        const int line = LineOf(params, "Mask");
        if (pieces.empty()) {
            Add(line, ProblemSeverity::Error, Text(lngCheckNoMask, {mask}));
            return;
        }
        auto isExcluded = [&](const std::string& piece) {
            for (const auto& e : excluded) {
                if (e == "*" || EqualsIgnoreCase(e, piece)) {
                    return true;
                }
            }
            return false;
        };
        bool allExcluded = true;
        bool allHoldSeparator = true;
        bool noneStartsAPath = true;
        const std::string separator(1, platform::kPathSeparator);
        for (const auto& piece : pieces) {
            allExcluded = allExcluded && isExcluded(piece);
            allHoldSeparator = allHoldSeparator && piece.find(separator) != std::string::npos;
            noneStartsAPath = noneStartsAPath && !IsOneOf(piece.front(), "*?[") &&
                              piece.front() != platform::kPathSeparator;
        }
        if (allExcluded) {
            Add(LineOf(params, "ExcludeMask"), ProblemSeverity::Error,
                Text(lngCheckAllExcluded, {exclude, mask}));
        } else if (!fullPath && allHoldSeparator) {
            Add(line, ProblemSeverity::Error, Text(lngCheckMaskName, {mask, separator}));
        } else if (fullPath && separator == "/" && noneStartsAPath) {
            Add(line, ProblemSeverity::Error, Text(lngCheckMaskPath, {mask, separator}));
        }
    }

    void CheckWatches(const ParamList& params, const std::string& root) {
        if (!m_watchLimit || m_watchesSaid) {
            return;
        }
        const FileData context = FileData::Placeholder();
        MaskList dirMasks, exclDirMasks;
        dirMasks.Compile(ExpandRecord(context, params.StringAt("DirMask")));
        exclDirMasks.Compile(ExpandRecord(context, params.StringAt("ExclDirMask")));
        const bool fullPath = params.FlagAt("FullPathMask");
        // One watch for the root and one for each directory a walk enters;
        // counting ends once the limit is passed.
        ++m_watches;
        std::vector<std::string> pending;
        if (params.FlagAt("Subdir")) {
            pending.push_back(root);
        }
        while (!pending.empty() && m_watches <= *m_watchLimit) {
            const std::string directory = std::move(pending.back());
            pending.pop_back();
            platform::ListDirectory(directory, [&](const platform::DirectoryEntry& entry) {
                if (!entry.isDirectory) {
                    return true;
                }
                std::string full = directory;
                if (full.back() != platform::kPathSeparator) {
                    full += platform::kPathSeparator;
                }
                full += entry.name;
                const std::string& target = fullPath ? full : entry.name;
                if (dirMasks.Matches(target) && !exclDirMasks.Matches(target)) {
                    ++m_watches;
                    pending.push_back(std::move(full));
                }
                return m_watches <= *m_watchLimit;
            });
        }
        if (m_watches > *m_watchLimit) {
            m_watchesSaid = true;
            Add(LineOf(params, "RealTime"), ProblemSeverity::Warning,
                Text(lngCheckWatchLimit,
                     {std::to_string(m_watches), std::to_string(*m_watchLimit)}));
        }
    }

    void CheckCache(const ParamList& params) {
        const int line = LineOf(params, "CacheData");
        if (m_lineOf.find(params.Find("CacheID")) == m_lineOf.end() ||
            params.StringAt("CacheID").empty()) {
            Add(line, ProblemSeverity::Warning, Text(lngCheckNoCacheId));
        }
        const std::string directory = WithoutTrailingSeparator(params.StringAt("CacheDirectory"));
        // A missing directory is made when the cache is first written: the
        // nearest one that exists must take it.
        std::string existing = directory;
        while (!platform::Stat(existing) && DirectoryOf(existing) != existing) {
            existing = DirectoryOf(existing);
        }
        if (!platform::CanWriteIn(existing)) {
            Add(LineOf(params, "CacheDirectory", line), ProblemSeverity::Error,
                Text(lngCheckCacheUnusable, {directory}));
            return;
        }
        const std::string file = cache_file::PathFor(directory, params.StringAt("CacheID"));
        std::string error;
        if (!cache_file::Read(file, &error) && !error.empty()) {
            Add(line, ProblemSeverity::Warning, Text(lngCheckCacheDamaged, {file}));
        }
    }

    void AddForAction(const Action& action, int number, std::string_view key,
                      ProblemSeverity severity, const std::string& message) {
        Add(LineOf(action.Params(), key, LineOf(action.Params(), "Action")), severity,
            Text(lngCheckAction, {std::to_string(number), action.KindCaption(), message}));
    }

    // The file name is written into its directory: that must exist and take it.
    void CheckWritable(const Action& action, int number, std::string_view key,
                       const std::string& name, bool maybeDirectory) {
        if (name.empty()) {
            return;
        }
        std::string directory;
        if (maybeDirectory && name.back() == platform::kPathSeparator) {
            directory = WithoutTrailingSeparator(name);
        } else if (const auto info = platform::Stat(name);
                   maybeDirectory && info && info->isDirectory) {
            directory = name;
        } else {
            directory = DirectoryOf(name);
        }
        if (directory.find('%') != std::string::npos) {
            return;  // made by macros from the files concerned
        }
        if (!platform::Stat(directory)) {
            AddForAction(action, number, key, ProblemSeverity::Error,
                         Text(lngCheckNoDirectory, {name}));
        } else if (!platform::CanWriteIn(directory)) {
            AddForAction(action, number, key, ProblemSeverity::Error,
                         Text(lngCheckNotWritable, {name}));
        }
    }

    void CheckAction(const Action& action, int number) {
        if (const auto* exec = dynamic_cast<const ExecAction*>(&action)) {
            CheckProgram(*exec, number);
        } else if (const auto* list = dynamic_cast<const ListAction*>(&action)) {
            CheckWritable(action, number, "ListName", list->ListName(), false);
        } else if (const auto* op = dynamic_cast<const FileOpAction*>(&action)) {
            if (op->OpIndex() != FileOpAction::Delete) {
                for (const auto& destination : SplitPathList(op->Destination())) {
                    CheckWritable(action, number, "OpDestination", destination, true);
                }
            }
        } else if (const auto* sound = dynamic_cast<const SoundAction*>(&action)) {
            const std::string wave = sound->WaveFile();
            if (!wave.empty() && wave.find('%') == std::string::npos &&
                !platform::LoadWaveFile(wave)) {
                AddForAction(action, number, "WaveFile", ProblemSeverity::Error,
                             Text(lngCheckNotWave, {wave}));
            }
        }
    }

    void CheckProgram(const ExecAction& exec, int number) {
        const std::string command = platform::ExpandEnvironmentReferences(exec.Command());
        if (command.empty() || command.find("://") != std::string::npos) {
            return;  // nothing to start, or an address
        }
        const std::string directory = platform::ExpandEnvironmentReferences(exec.Directory());
        if (platform::FindExecutable(command, directory)) {
            return;
        }
        const bool isPath = command.find(platform::kPathSeparator) != std::string::npos;
        std::string where = command;
        if (isPath && !directory.empty() && command.front() != platform::kPathSeparator) {
            where = directory + platform::kPathSeparator + command;
        }
        const auto info = platform::Stat(where);
        if (info && info->isDirectory) {
            return;  // a folder opens in the file manager
        }
        if (info) {
            AddForAction(exec, number, "Command", ProblemSeverity::Warning,
                         Text(lngCheckNotExecutable, {command}));
        } else {
            AddForAction(exec, number, "Command", ProblemSeverity::Error,
                         Text(isPath ? lngCheckProgramMissing : lngCheckNoProgram, {command}));
        }
    }

    std::string m_defaultCacheDirectory;
    std::optional<long> m_watchLimit;
    long m_watches = 0;
    bool m_watchesSaid = false;
    std::vector<ConfigurationProblem> m_problems;
    int m_entry = 0;
    std::string m_name;
    int m_itemLine = 0;
    const BaseMonitoring* m_item = nullptr;
    std::map<const Param*, int> m_lineOf;
};

}  // namespace

std::vector<ConfigurationProblem> CheckConfiguration(std::string_view text,
                                                     const std::string& defaultCacheDirectory) {
    Checker checker(defaultCacheDirectory);
    const int dropped = ForEachNumberedConfigurationBlock(
        text,
        [&](ItemKind kind, bool paused, const std::vector<std::string>& lines,
            const std::vector<int>& numbers) { checker.Block(kind, paused, lines, numbers); });
    if (dropped > 0) {
        checker.Add(dropped, ProblemSeverity::Warning, Text(lngCheckNoEof), false);
    }
    return checker.Take();
}

}  // namespace quorvel
