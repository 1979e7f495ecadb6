#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <string>
#include <vector>

class QScreen;
class QWidget;

namespace quorvel::gui {

/// Keeps a window's placement in the options store under the program's key
/// followed by suffix ("\Positions\Main"): "Left" and "Top", and for a
/// resizable window "Width", "Height" and "WindowState" (0 normal,
/// 1 minimized, 2 maximized).
class FormPositions {
public:
    FormPositions(QWidget* window, std::string suffix, bool resizable);

    /// Applies what is stored; without a stored key the window is centred on
    /// its screen, made smaller where the screen is.
    void Restore();
    /// Stores the placement (only when the option "SavePosition" is on). A
    /// maximized window writes only its state, so it keeps the normal
    /// bounds it last had.
    void Save();

    /// The placement where it fits the room of a present screen; else the
    /// window centred on the screen it is mostly on, at the saved size as
    /// far as the screen takes it.
    QRect OnAScreen(QRect geometry) const;

    /// The full key path of this window's values.
    std::string KeyPath() const;

private:
    /// The size the window may take on the screen, its frame counted.
    QSize RoomOn(const QScreen& screen) const;

    QWidget* m_window;
    std::string m_suffix;
    bool m_resizable;
};

/// Column widths under the program's key, one integer value per column named
/// prefix followed by the index ("Col0", "ActCol2"). Loading applies only the
/// widths that exist.
void SaveColumnWidths(const std::string& prefix, const std::vector<int>& widths);
std::vector<int> LoadColumnWidths(const std::string& prefix, std::vector<int> widths);

/// The options store's file (for tests: $XDG_CONFIG_HOME/quorvel/registry.ini).
std::string OptionsStorePath();

}  // namespace quorvel::gui
