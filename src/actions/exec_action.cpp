#include "actions/exec_action.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

#include "actions/macro_expander.h"
#include "platform/process.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

// How often a long wait looks at the item's stop flag.
constexpr std::chrono::milliseconds kWaitSlice(100);

/// Waits for the child to end, up to limitSeconds (0: no limit), and ends
/// the wait early when the item is told to stop. True when the limit ran out.
bool WaitForChild(platform::ChildProcess& child, int limitSeconds, RunControl& control) {
    const bool limited = limitSeconds > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limitSeconds);
    for (;;) {
        auto slice = kWaitSlice;
        if (limited) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return true;
            }
            slice = std::min(slice, left);
        }
        if (child.Wait(slice)) {
            return false;
        }
        if (control.StopRequested()) {
            return false;
        }
    }
}

}  // namespace

ExecAction::ExecAction() : Action(ActionKind::Execute, ActionKindCaption(ActionKind::Execute)) {
    m_command = &m_params.Add<StringParam>("Command", "");
    m_arguments = &m_params.Add<StringParam>("Params", "");
    m_dir = &m_params.Add<StringParam>("Dir", "");
    m_show = &m_params.Add<IntParam>("Show", 0, 0, 3);
    m_wait = &m_params.Add<BoolParam>("Wait", false);
    m_multiArgs = &m_params.Add<BoolParam>("MultiArgs", true);
    m_maxFiles =
        &m_params.Add<IntParam>("MaxFiles", 0, 0, std::numeric_limits<std::int32_t>::max());
    m_terminateTime = &m_params.Add<IntParam>("TerminateTime", 0, 0, 2147483);
}

std::string ExecAction::Describe() const {
    return m_command->Value() + " " + m_arguments->Value();
}

bool ExecAction::Execute(const FileList& files, DateTime runStart, RunControl& control) {
    const std::string& command = m_command->Value();
    if (command.empty()) {
        return true;
    }
    const auto show = static_cast<platform::ShowMode>(m_show->Value());
    const bool wait = m_wait->Value();
    const int limit = m_terminateTime->Value();
    const int batch = m_multiArgs->Value() ? m_maxFiles->Value() : 1;
    const std::size_t total = files.size();
    std::size_t consumed = 0;
    do {
        // What macros put in is plain text of the word it stands in: a name
        // never adds, splits or joins arguments.
        ExpandListResult params = ExpandList(files, runStart, m_arguments->Value(),
                                             static_cast<int>(consumed), batch, true);
        // A program that cannot be started costs this run and nothing else.
        platform::ChildProcess child =
            platform::ShellExecute(command, params.text, m_dir->Value(), show, &params.fromMacro);
        if (!child) {
            LogError(control, "\"" + command + "\" could not be started: it is no program, "
                              "document or address that can be opened");
        } else if (wait) {
            if (WaitForChild(child, limit, control)) {
                child.Terminate();
            }
        }
        // A child still running is left to the reaper when the handle goes.
        consumed += static_cast<std::size_t>(params.used > 0 ? params.used : 1);
        if (control.StopRequested()) {
            break;  // a stopped item starts nothing more
        }
    } while (consumed < total);
    return true;
}

}  // namespace quorvel
