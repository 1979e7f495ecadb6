#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "actions/run_control.h"
#include "core/date_time.h"
#include "core/file_data.h"
#include "core/param.h"

namespace quorvel {

/// Kind numbers of the configuration file.
enum class ActionKind : int { List = 0, Execute = 1, Popup = 2, Sound = 3, FileOp = 4, Kill = 5 };

/// One action of an item's ordered action list.
class Action {
public:
    virtual ~Action() = default;
    Action(const Action&) = delete;
    Action& operator=(const Action&) = delete;

    /// Runs the action on the item's files; false stops the chain.
    virtual bool Execute(const FileList& files, DateTime runStart, RunControl& control) = 0;
    /// One-line description from the raw parameter texts.
    virtual std::string Describe() const = 0;

    ParamList& Params() { return m_params; }
    const ParamList& Params() const { return m_params; }
    ActionKind Kind() const { return static_cast<ActionKind>(m_kind->Value()); }
    bool Enabled() const { return m_enabled->Value(); }
    int DelayBefore() const { return m_delayBefore->Value(); }
    std::string Comment() const { return m_comment->Value(); }
    /// The kind's caption in the language in force when the action was made.
    const std::string& KindCaption() const { return m_caption; }
    /// Failures the action has reported so far (LogError).
    int ErrorsReported() const { return m_errorsReported.load(std::memory_order_relaxed); }

protected:
    /// Reports a failure of this action (with its description) to the
    /// activity log through the item that runs it.
    void LogError(RunControl& control, std::string message,
                  std::vector<std::string> files = {}) const;

    /// Adds the common parameters "Action", "Enabled", "DelayBefore" and
    /// "ActComment" (in that writing order); kinds append their own after.
    Action(ActionKind kind, std::string caption);

    ParamList m_params;
    IntParam* m_kind;
    IntParam* m_delayBefore;
    BoolParam* m_enabled;
    StringParam* m_comment;
    std::string m_caption;

private:
    mutable std::atomic<int> m_errorsReported{0};
};

using ActionList = std::vector<std::unique_ptr<Action>>;

/// The caption of a kind in the language in force now ("Create filelist"
/// ...); empty for a value that names no kind.
std::string ActionKindCaption(ActionKind kind);

/// A new action of the given kind with default settings; nothing for a
/// value that names no kind (a number read from a file may be anything).
std::unique_ptr<Action> CreateAction(ActionKind kind);

/// Replaces destination with copies of source's actions (same kinds, same
/// parameter values; each copy has its own caption).
void CopyActionList(ActionList& destination, const ActionList& source);

/// Runs the list once, front to back (enabled actions, each after its
/// delay, until one answers false), then deletes the list files marked for
/// deletion. No action starts while the item is paused: the run holds
/// before it and goes on once resumed. A stop request ends the run before
/// the next action, without the clean-up.
void RunActions(const ActionList& actions, const FileList& files, RunControl& control);

/// Raises the stop flag of every enabled sound action of the list.
void StopSounds(const ActionList& actions);

}  // namespace quorvel
