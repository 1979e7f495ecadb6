#include "actions/kill_action.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "actions/action_text.h"
#include "actions/macro_expander.h"
#include "core/mask_matcher.h"
#include "platform/window_list.h"

namespace quorvel {

namespace {

// A program that does not answer its close request holds the chain up for
// at most this long in one run.
constexpr auto kCloseBudget = std::chrono::seconds(5);

}  // namespace

KillAction::KillAction() : Action(ActionKind::Kill, ActionKindCaption(ActionKind::Kill)) {
    m_titleMask = &m_params.Add<StringParam>("killTitleMask", "");
    m_closeAll = &m_params.Add<BoolParam>("killCloseAll", false);
    m_forcedKill = &m_params.Add<BoolParam>("killForcedKill", false);
}

std::string KillAction::Describe() const {
    return m_titleMask->Value();
}

bool KillAction::Execute(const FileList& files, DateTime runStart, RunControl& /*control*/) {
    {
        const std::string expanded = ExpandList(files, runStart, TitleMask(), 0, 0).text;
        if (expanded.empty()) {
            return true;  // an empty mask would only pick out untitled helper windows
        }
        const WildcardMask mask(expanded);
        std::shared_ptr<platform::WindowList> list = platform::CurrentWindowList();
        const auto deadline = std::chrono::steady_clock::now() + kCloseBudget;
        // The list is taken once, so closing one window does not disturb the walk.
        for (const platform::TopLevelWindow& window : list->Windows()) {
            if (!mask.Matches(window.title)) {
                continue;
            }
            if (ForcedKill()) {
                list->Terminate(window);
            } else {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                list->Close(window, std::max(left, std::chrono::milliseconds(0)));
            }
            if (!CloseAll()) {
                break;
            }
        }
    }
    return true;  // nothing found or nothing closed: the chain goes on
}

}  // namespace quorvel
