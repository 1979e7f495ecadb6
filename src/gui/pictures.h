#pragma once

#include <QIcon>
#include <QString>

#include "actions/action.h"
#include "core/item_state.h"

namespace quorvel::gui {

/// The program's named pictures (compiled in from resources/icons).
class Pictures {
public:
    /// Makes the compiled-in pictures available (before any window is built).
    static void Register();
    /// The picture of that name, e.g. "bmpOK"; a null icon for an unknown name.
    static QIcon Named(const QString& name);
    /// The same with the variant of another name for disabled use
    /// ("bmpPause" with "bmpPause_Dis").
    static QIcon WithDisabled(const QString& name, const QString& disabledName);
    /// The picture of a row's state (index = the state's value).
    static QIcon State(ItemState state);
    /// The picture of an action kind.
    static QIcon ActionKindPicture(ActionKind kind);
    /// The application's icon.
    static QIcon Application();
};

}  // namespace quorvel::gui
