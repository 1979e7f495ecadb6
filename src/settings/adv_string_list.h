#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

/// Numbers of the string table's entries; a language file names each entry
/// by the identifier spelled the same way ("lngCantLoad").
enum StringId : int {
    lngCantLoad = 0,
    lngNotifyTitle,
    lngPrograms,
    lngAllFiles,
    lngWaveFiles,
    lngAddDir,
    lngAddFile,
    lngDirProp,
    lngCopyDir,
    lngFileProp,
    lngCopyFile,
    lngIntervMsg,
    lngMoreCond,
    lngCopy,
    lngMove,
    lngRename,
    lngDelete,
    lngCreateList,
    lngExecute,
    lngPopup,
    lngSound,
    lngFileOp,
    lngActive,
    lngDeleteMsg,
    lngCantSave,
    lngLoadTitle,
    lngConfChanged,
    lngErrorLoading,
    lngSaveAs,
    lngQVFiles,
    lngStopped,
    lngModified,
    lngImportTitle,
    lngExportTitle,
    lngExitMsg,
    lngSelectDir,
    lngCantLoadHH,
    lngGoToMS_1,
    lngGoToMS_2,
    lngChangeCaption,
    lngNoChangeCaption,
    lngAddCaption,
    lngNoAddCaption,
    lngDelCaption,
    lngNoDelCaption,
    lngAnyCaption,
    lngNoAnyCaption,
    lngSelectFile,
    lngNoPop,
    lngKillApp,
    lngLoaded,  ///< a printf-style format with one "%s": the configuration file
    lngStarted,
    lngInstallSvcFinish,
    lngInstallSvcError,
    lngRemoveSvcFinish,
    lngRemoveSvcError,
    lngStartSvc,
    lngStartSvcError,
    lngStopSvc,
    lngStopSvcError,
    lngRunsPrograms,  ///< asked before an opened configuration that acts starts
    lngStartMonitoring,
    lngLineBreakInName,  ///< a dropped path that no configuration line can hold
    lngUnseenErrors,     ///< a printf-style format with one "%s": errors not looked at yet
    // The console's /check, /once and /describe; formats fill their "%s" in order.
    lngCheckError,
    lngCheckWarning,
    lngCheckItem,
    lngCheckSummary,
    lngCheckUnknownKey,
    lngCheckNotNumber,
    lngCheckOutOfRange,
    lngCheckNotBoolean,
    lngCheckShortText,
    lngCheckBadWindow,
    lngCheckBadDate,
    lngCheckNoFileName,
    lngCheckMissing,
    lngCheckUnreadable,
    lngCheckNotDirectory,
    lngCheckNoMask,
    lngCheckAllExcluded,
    lngCheckMaskName,
    lngCheckMaskPath,
    lngCheckAction,
    lngCheckNoProgram,
    lngCheckProgramMissing,
    lngCheckNotExecutable,
    lngCheckNoDirectory,
    lngCheckNotWritable,
    lngCheckCacheUnusable,
    lngCheckCacheDamaged,
    lngCheckNoCacheId,
    lngCheckWatchLimit,
    lngCheckNotWave,
    lngCheckNoEof,
    lngOnceActed,
    lngOnceQuiet,
    lngOnceWaiting,
    lngOncePaused,
    lngOnceSummary,
    lngDescItem,
    lngDescSeparator,
    lngDescFile,
    lngDescDirectory,
    lngDescTree,
    lngDescMasks,
    lngDescExcept,
    lngDescComment,
    lngDescPaused,
    lngDescInterval,
    lngDescRealTime,
    lngDescAnyTime,
    lngDescDays,
    lngDescMonthDays,
    lngDescHours,
    lngDescExcluded,
    lngDescIncluded,
    lngDescNoDay,
    lngDescFileChanged,
    lngDescFileUnchanged,
    lngDescFileMissing,
    lngDescOlder,
    lngDescCondition,
    lngDescAction,
    lngDescActionOff,
    lngDescNoActions,
    lngCount  ///< number of entries, not an entry
};

/// The table of numbered texts shown to the user, built from English
/// defaults and translated by a language file. Readers on any thread get a
/// copy of a text; a translation replaces the whole table at once, so a
/// reader sees either the old text or the new one.
class AdvStringList {
public:
    static constexpr int kCount = lngCount;

    /// A table holding the built-in English texts.
    AdvStringList();
    AdvStringList(const AdvStringList&) = delete;
    AdvStringList& operator=(const AdvStringList&) = delete;

    /// The process's string table. Created on first use and ended after
    /// main, when every thread that reads it has been joined.
    static AdvStringList& Instance();

    /// The current text of an entry; empty when index is outside 0..Count()-1.
    std::string Text(int index) const;
    /// The text for printing on the console (the console uses the same
    /// encoding as everything else here, so this is Text).
    std::string OemText(int index) const;
    /// The entry's key in language files; empty outside the table.
    static std::string Key(int index);
    /// The entry's built-in English text; empty outside the table.
    static std::string BuiltInText(int index);
    int Count() const { return kCount; }

    /// A copy of all current texts, in index order.
    std::vector<std::string> Texts() const;
    /// Replaces all texts at once; missing trailing entries keep their text,
    /// extra ones are ignored.
    void SetTexts(std::vector<std::string> texts);
    /// Every entry back to its built-in text.
    void Reset();

private:
    using Table = std::vector<std::string>;
    std::shared_ptr<const Table> Snapshot() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const Table> m_texts;
};

/// The process's string table (AdvStringList::Instance()).
inline AdvStringList& Strings() {
    return AdvStringList::Instance();
}

}  // namespace quorvel
