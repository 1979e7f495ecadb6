#pragma once

#include <QString>

#include <functional>

class QMenu;
class QWidget;

namespace quorvel {
class IniFile;
class Lang;
}  // namespace quorvel

namespace quorvel::gui {

/// A part of a window whose text the program sets itself (from the string
/// table, say) carries this dynamic property set to true, and translation
/// leaves it alone.
inline constexpr const char* kNotTranslated = "notTranslated";

/// Translates a window from the language file's section "Form." followed by
/// the window's objectName. Parts are found by their objectName (the parts
/// of the window itself, not those of a dialog it owns); each value
/// is read with the part's current text as default, so parts the file does
/// not name stay as they are:
/// - the window's own title from "Caption";
/// - labels, menus, menu items, buttons, check and radio boxes, tab pages
///   and group boxes from k + ".Caption" (a group box caption gets one blank
///   on each side); a label that is the buddy label of a field (an edit, a
///   combo box) is read under the field's name as well, so "intervalEdit.Caption"
///   is the text of the label in front of intervalEdit;
/// - everything but labels and menu entries gets its tooltip from k + ".Hint";
/// - combo box entries from k + ".Item." + i, list view columns from
///   k + ".Column." + i, header sections from k + ".Section." + i.
void TranslateForm(QWidget* window, const IniFile& file);

/// Lists the language files ("*.lng") of the language directory in menu,
/// sorted by file name without regard to case, each titled by its national
/// name and, in parentheses, its English name (or the file name up to its
/// first "."); the entry of the current language is checked. Choosing one
/// calls chosen with its file name. Earlier entries are removed first.
void FillLanguageMenu(QMenu* menu, const Lang& lang,
                      const std::function<void(const QString& fileName)>& chosen);

}  // namespace quorvel::gui
