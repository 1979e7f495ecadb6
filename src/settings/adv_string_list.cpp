#include "settings/adv_string_list.h"

#include <array>
#include <utility>

namespace quorvel {

namespace {

struct BuiltIn {
    std::string_view key;
    std::string_view text;
};

constexpr std::array<BuiltIn, AdvStringList::kCount> kBuiltIn = {{
    {"lngCantLoad", "Can not load configuration file"},
    {"lngNotifyTitle", "Quorvel Notification"},
    {"lngPrograms", "Program files"},
    {"lngAllFiles", "All files"},
    {"lngWaveFiles", "Microsoft Waveform Audio Files"},
    {"lngAddDir", "Add Directory"},
    {"lngAddFile", "Add File"},
    {"lngDirProp", "Directory Properties"},
    {"lngCopyDir", "Copy Directory"},
    {"lngFileProp", "File Properties"},
    {"lngCopyFile", "Copy File"},
    {"lngIntervMsg", "Incorrect interval value. Please specify positive nonzero integer."},
    {"lngMoreCond", "Please specify one or more of conditions."},
    {"lngCopy", "Copy: "},
    {"lngMove", "Move: "},
    {"lngRename", "Rename: "},
    {"lngDelete", "Delete: "},
    {"lngCreateList", "Create filelist"},
    {"lngExecute", "Execute program"},
    {"lngPopup", "Popup window"},
    {"lngSound", "Play sound"},
    {"lngFileOp", "File operation"},
    {"lngActive", "Active"},
    {"lngDeleteMsg", "Delete item(s) from monitoring list?"},
    {"lngCantSave", "Can't save configuration file."},
    {"lngLoadTitle", "Load config file..."},
    {"lngConfChanged", "Configuration was changed. Do you want to save it?"},
    {"lngErrorLoading", "Error during loading configuration file."},
    {"lngSaveAs", "Save config file as..."},
    {"lngQVFiles", "Quorvel files"},
    {"lngStopped", "Stopped"},
    {"lngModified", "Modified"},
    {"lngImportTitle", "Import from config file..."},
    {"lngExportTitle", "Export to config file..."},
    {"lngExitMsg", "Do you want to exit from Quorvel?"},
    {"lngSelectDir", "Please select directory:"},
    {"lngCantLoadHH", "Can not load HTML Help"},
    {"lngGoToMS_1", "It seems that HTML Help Viewer is not installed on your system."},
    {"lngGoToMS_2", "Do you wish to go to the Microsoft web site to download Help Viewer now?"},
    {"lngChangeCaption", "If any file has been &changed"},
    {"lngNoChangeCaption", "If no files has been &changed"},
    {"lngAddCaption", "If &new files has been added"},
    {"lngNoAddCaption", "If no &new files has been added"},
    {"lngDelCaption", "If some files has been &deleted"},
    {"lngNoDelCaption", "If no files has been &deleted"},
    {"lngAnyCaption", "If &anything changed (one of above)"},
    {"lngNoAnyCaption", "If no&thing changed (all of above)"},
    {"lngSelectFile", "Select a file..."},
    {"lngNoPop", "No Help topic is associated with this item."},
    {"lngKillApp", "Terminate Program"},
    {"lngLoaded", "Configuration file \"%s\" is loaded."},
    {"lngStarted", "Monitoring started. Press 'X' to exit."},
    {"lngInstallSvcFinish", "Service is installed successfully."},
    {"lngInstallSvcError", "Can not install service."},
    {"lngRemoveSvcFinish", "Service is removed successfully."},
    {"lngRemoveSvcError", "Can not remove service."},
    {"lngStartSvc", "Service started."},
    {"lngStartSvcError", "Can not start service."},
    {"lngStopSvc", "Service stopped."},
    {"lngStopSvcError", "Can not stop service."},
    {"lngRunsPrograms", "This configuration runs programs or changes files:"},
    {"lngStartMonitoring", "Start monitoring?"},
    {"lngLineBreakInName", "The name holds a line break and can not be monitored:"},
    {"lngUnseenErrors", "%s new errors in the activity log"},
    {"lngCheckError", "error"},
    {"lngCheckWarning", "warning"},
    {"lngCheckItem", "item %s (%s)"},
    {"lngCheckSummary", "%s: %s error(s), %s warning(s)"},
    {"lngCheckUnknownKey", "unknown key \"%s\"; the line is ignored"},
    {"lngCheckNotNumber", "%s: \"%s\" is not a whole number; %s is used instead"},
    {"lngCheckOutOfRange", "%s: %s is outside %s to %s; %s is used instead"},
    {"lngCheckNotBoolean", "%s: \"%s\" is neither 0 nor 1; %s is used instead"},
    {"lngCheckShortText", "%s: \"%s\" has fewer than %s characters; \"%s\" is used instead"},
    {"lngCheckBadWindow",
     "TimeInterval: \"%s\" is no window such as 08:00:00 - 17:30:00; it is dropped"},
    {"lngCheckBadDate", "%s: \"%s\" is no date dd.mm.yyyy; it is ignored"},
    {"lngCheckNoFileName", "FileName is empty"},
    {"lngCheckMissing", "\"%s\" does not exist"},
    {"lngCheckUnreadable", "\"%s\" can not be read by this user"},
    {"lngCheckNotDirectory", "\"%s\" is not a directory"},
    {"lngCheckNoMask", "Mask \"%s\" holds no mask: no file can match"},
    {"lngCheckAllExcluded", "ExcludeMask \"%s\" excludes every file that Mask \"%s\" takes"},
    {"lngCheckMaskName",
     "Mask \"%s\" can not match: a file's name never holds \"%s\" (FullPathMask=1 compares the "
     "full path)"},
    {"lngCheckMaskPath",
     "Mask \"%s\" can not match: with FullPathMask=1 a full path begins with \"%s\""},
    {"lngCheckAction", "action %s (%s): %s"},
    {"lngCheckNoProgram", "the program \"%s\" is not found on the PATH"},
    {"lngCheckProgramMissing", "the program \"%s\" does not exist"},
    {"lngCheckNotExecutable", "\"%s\" is not executable; it is opened as a document"},
    {"lngCheckNoDirectory", "the directory of \"%s\" does not exist"},
    {"lngCheckNotWritable", "the directory of \"%s\" is not writable by this user"},
    {"lngCheckCacheUnusable", "the cache directory \"%s\" can not be written by this user"},
    {"lngCheckCacheDamaged",
     "the cache file \"%s\" can not be read; the first check is a baseline"},
    {"lngCheckNoCacheId",
     "CacheData=1 without a CacheID: every start begins a new cache and reports nothing from "
     "before"},
    {"lngCheckWatchLimit",
     "RealTime: the trees watched up to here need %s watches, more than the %s that the system "
     "allows a user; changes beyond are seen on the interval only"},
    {"lngCheckNotWave", "\"%s\" is no wave file that can be played"},
    {"lngCheckNoEof", "the lines from here on end in no EOF line and are ignored"},
    {"lngOnceActed", "item %s (%s): the condition holds; the actions ran"},
    {"lngOnceQuiet", "item %s (%s): nothing to do"},
    {"lngOnceWaiting", "item %s (%s): outside its schedule, not checked"},
    {"lngOncePaused", "item %s (%s): paused, not checked"},
    {"lngOnceSummary", "%s of %s items acted."},
    {"lngDescItem", "Item %s: %s"},
    {"lngDescSeparator", "Item %s: separator"},
    {"lngDescFile", "Watches the file"},
    {"lngDescDirectory", "Watches the directory"},
    {"lngDescTree", "Watches the directory and its subdirectories"},
    {"lngDescMasks", "Files: %s"},
    {"lngDescExcept", "Except: %s"},
    {"lngDescComment", "Comment: %s"},
    {"lngDescPaused", "Paused: it starts only when resumed"},
    {"lngDescInterval", "Checked every %s seconds"},
    {"lngDescRealTime", "Also checked as soon as a change is reported"},
    {"lngDescAnyTime", "Schedule: at any time"},
    {"lngDescDays", "Days: %s"},
    {"lngDescMonthDays", "Days of the month: %s"},
    {"lngDescHours", "Hours: %s"},
    {"lngDescExcluded", "Not on: %s"},
    {"lngDescIncluded", "Always on: %s"},
    {"lngDescNoDay", "no day"},
    {"lngDescFileChanged", "If the file has changed since the previous check"},
    {"lngDescFileUnchanged", "If the file has not changed since the previous check"},
    {"lngDescFileMissing", "If the file does not exist"},
    {"lngDescOlder", "If files are older than %s seconds"},
    {"lngDescCondition", "Condition: %s"},
    {"lngDescAction", "Action %s: %s: %s"},
    {"lngDescActionOff", "Action %s (off): %s: %s"},
    {"lngDescNoActions", "No actions"},
}};

std::shared_ptr<const std::vector<std::string>> BuiltInTable() {
    auto table = std::make_shared<std::vector<std::string>>();
    table->reserve(kBuiltIn.size());
    for (const auto& entry : kBuiltIn) {
        table->emplace_back(entry.text);
    }
    return table;
}

bool InRange(int index) {
    return index >= 0 && index < AdvStringList::kCount;
}

}  // namespace

AdvStringList::AdvStringList() : m_texts(BuiltInTable()) {}

AdvStringList& AdvStringList::Instance() {
    // Ended after main, once every thread that reads it has been joined.
    static AdvStringList instance;
    return instance;
}

std::shared_ptr<const AdvStringList::Table> AdvStringList::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

std::string AdvStringList::Text(int index) const {
    if (!InRange(index)) {
        return {};
    }
    return (*Snapshot())[static_cast<std::size_t>(index)];
}

std::string AdvStringList::OemText(int index) const {
    return Text(index);
}

std::string AdvStringList::Key(int index) {
    return InRange(index) ? std::string(kBuiltIn[static_cast<std::size_t>(index)].key)
                          : std::string();
}

std::string AdvStringList::BuiltInText(int index) {
    return InRange(index) ? std::string(kBuiltIn[static_cast<std::size_t>(index)].text)
                          : std::string();
}

std::vector<std::string> AdvStringList::Texts() const {
    return *Snapshot();
}

void AdvStringList::SetTexts(std::vector<std::string> texts) {
    // Built aside; readers keep the old table until the swap.
    auto table = std::make_shared<Table>(std::move(texts));
    const std::size_t given = table->size();
    table->resize(kCount);
    std::lock_guard lock(m_mutex);
    for (std::size_t i = given; i < table->size(); ++i) {
        (*table)[i] = (*m_texts)[i];
    }
    m_texts = std::move(table);
}

void AdvStringList::Reset() {
    auto table = BuiltInTable();
    std::lock_guard lock(m_mutex);
    m_texts = std::move(table);
}

}  // namespace quorvel
