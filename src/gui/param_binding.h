#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/param.h"

class QLineEdit;
class QRadioButton;
class QWidget;

namespace quorvel::gui {

/// The parameter of that key and class in list, or none.
template <typename P>
P* ParamOf(const ParamList& list, std::string_view key) {
    return dynamic_cast<P*>(list.Find(key));
}

/// One control of a dialog and the parameter it edits: a line edit (a text,
/// or a number as decimal text), a check box, a combo box (the item index)
/// or a pair of radio buttons (control is the one for true or 1,
/// otherwise the one for false or 0).
struct ParamBinding {
    QWidget* control;
    const char* key;
    QRadioButton* otherwise = nullptr;
};

/// Shows parameters in controls and stores them back. A text is given back
/// byte for byte while its field still holds what was shown, so a value
/// that is not UTF-8 survives an OK untouched. A configuration line cannot
/// hold a line break: in a changed text each one becomes a blank, or a ";"
/// in a field of a list (masks, dates). Numbers are read the way
/// the C runtime reads them, then pass their parameter's range rule.
class ParamBindings {
public:
    void Show(const ParamList& params, const std::vector<ParamBinding>& bindings);
    void Store(ParamList& params, const std::vector<ParamBinding>& bindings) const;

    /// One text field on its own.
    void ShowText(QLineEdit* field, const std::string& value);
    std::string ReadText(const QLineEdit* field) const;

    /// Line breaks in field separate entries of a list.
    void MarkList(const QLineEdit* field) { m_lists.insert(field); }

    /// Forgets what was shown.
    void Clear() { m_shown.clear(); }

private:
    std::map<const QLineEdit*, std::string> m_shown;
    std::set<const QLineEdit*> m_lists;
};

}  // namespace quorvel::gui
