#include "actions/action.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <limits>
#include <thread>

#include "actions/action_text.h"
#include "actions/exec_action.h"
#include "actions/file_op_action.h"
#include "actions/kill_action.h"
#include "actions/list_action.h"
#include "actions/popup_action.h"
#include "actions/sound_action.h"
#include "settings/adv_string_list.h"

namespace quorvel {

namespace {

// String table entries of the kind captions, by kind number.
constexpr int kCaptionIndex[] = {lngCreateList, lngExecute, lngPopup,
                                 lngSound,      lngFileOp,  lngKillApp};

}  // namespace

bool PlainRunControl::SleepFor(std::chrono::milliseconds duration) {
    if (duration.count() > 0) {
        std::this_thread::sleep_for(duration);
    }
    return true;
}

Action::Action(ActionKind kind, std::string caption) : m_caption(std::move(caption)) {
    m_kind = &m_params.Add<IntParam>("Action", 0, 0, 5);
    m_enabled = &m_params.Add<BoolParam>("Enabled", true);
    m_delayBefore =
        &m_params.Add<IntParam>("DelayBefore", 0, 0, std::numeric_limits<std::int32_t>::max());
    m_comment = &m_params.Add<StringParam>("ActComment", "");
    m_kind->SetValue(static_cast<int>(kind));
}

void Action::LogError(RunControl& control, std::string message,
                      std::vector<std::string> files) const {
    m_errorsReported.fetch_add(1, std::memory_order_relaxed);
    LogRecord record;
    record.level = LogLevel::Error;
    record.action = Describe();
    record.message = std::move(message);
    record.files = std::move(files);
    control.Log(std::move(record));
}

std::string ActionKindCaption(ActionKind kind) {
    const int number = static_cast<int>(kind);
    if (number < 0 || number > 5) {
        return {};
    }
    return ActionText(kCaptionIndex[number]);
}

std::unique_ptr<Action> CreateAction(ActionKind kind) {
    switch (kind) {
        case ActionKind::List:
            return std::make_unique<ListAction>();
        case ActionKind::Execute:
            return std::make_unique<ExecAction>();
        case ActionKind::Popup:
            return std::make_unique<PopupAction>();
        case ActionKind::Sound:
            return std::make_unique<SoundAction>();
        case ActionKind::FileOp:
            return std::make_unique<FileOpAction>();
        case ActionKind::Kill:
            return std::make_unique<KillAction>();
    }
    return nullptr;
}

void CopyActionList(ActionList& destination, const ActionList& source) {
    // The old actions go first: a sound action stops its loop as it dies.
    destination.clear();
    destination.reserve(source.size());
    for (const auto& original : source) {
        if (!original) {
            continue;
        }
        auto copy = CreateAction(original->Kind());
        if (!copy) {
            continue;
        }
        copy->Params().AssignFrom(original->Params());
        destination.push_back(std::move(copy));
    }
}

namespace {

std::vector<std::string> NamesOf(const FileList& files) {
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const FileData& f : files) {
        if (f.name) {
            names.push_back(*f.name);
        }
    }
    return names;
}

// Runs one action; whatever it throws is reported as its failure and the
// chain goes on as after any failed action. Answers whether to go on.
bool RunGuarded(Action& action, const FileList& files, DateTime runStart, RunControl& control) {
    const int errorsBefore = action.ErrorsReported();
    const auto started = std::chrono::steady_clock::now();
    bool goOn = true;
    std::string failure;
    try {
        goOn = action.Execute(files, runStart, control);
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unexpected error";
    }
    LogRecord record;
    record.action = action.Describe();
    record.files = NamesOf(files);
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!failure.empty()) {
        record.level = LogLevel::Error;
        record.message = "Failed: " + failure;
        goOn = true;
    } else if (const int errors = action.ErrorsReported() - errorsBefore; errors > 0) {
        // The errors themselves are records of their own.
        record.message =
            "Ended with " + std::to_string(errors) + (errors == 1 ? " error" : " errors");
    } else {
        record.message = goOn ? "Done" : "Done; the actions after it do not run";
    }
    control.Log(std::move(record));
    return goOn;
}

}  // namespace

void RunActions(const ActionList& actions, const FileList& files, RunControl& control) {
    const DateTime runStart = DateTime::Now();
    for (const auto& action : actions) {
        if (control.StopRequested()) {
            return;
        }
        if (!action || !action->Enabled()) {
            continue;
        }
        if (action->DelayBefore() > 0) {
            if (!control.HoldWhilePaused() ||
                !control.SleepFor(std::chrono::milliseconds(action->DelayBefore())) ||
                control.StopRequested()) {
                return;
            }
        }
        // A pause that came during the delay or the previous action holds
        // the chain here, before anything more starts.
        if (!control.HoldWhilePaused()) {
            return;
        }
        if (!RunGuarded(*action, files, runStart, control)) {
            break;
        }
    }
    for (const auto& action : actions) {
        if (!action || action->Kind() != ActionKind::List || !action->Enabled()) {
            continue;
        }
        if (auto* list = dynamic_cast<ListAction*>(action.get()); list && list->DeleteAfterRun()) {
            list->DeleteListFile();
        }
    }
}

void StopSounds(const ActionList& actions) {
    for (const auto& action : actions) {
        if (!action || action->Kind() != ActionKind::Sound || !action->Enabled()) {
            continue;
        }
        if (auto* sound = dynamic_cast<SoundAction*>(action.get())) {
            sound->RequestStop();
        }
    }
}

}  // namespace quorvel
