#pragma once

#include <QKeySequence>
#include <QKeySequenceEdit>

#include <cstdint>

namespace quorvel::gui {

/// The field of a hot key: pressing a combination with Ctrl or Alt (Shift
/// may be added) sets it; a key alone or with Shift alone is refused and
/// goes on to the dialog (Enter, Esc, F1 keep their meaning); Backspace or
/// Delete alone clears it; Tab moves on. The value is the stored shortcut
/// code (platform/hot_key.h), 0 for none.
class HotKeyEdit : public QKeySequenceEdit {
    Q_OBJECT

public:
    explicit HotKeyEdit(QWidget* parent = nullptr);

    std::int32_t Shortcut() const { return m_shortcut; }
    /// Shows a stored value; one that names no key this field can take
    /// shows as none but is kept until another key is pressed.
    void SetShortcut(std::int32_t shortcut);

    /// The stored code of a key combination; 0 when it lacks Ctrl and Alt or
    /// its key has no code.
    static std::int32_t CodeOf(QKeyCombination combination);
    /// The key combination of a stored code; empty when there is none.
    static QKeySequence SequenceOf(std::int32_t shortcut);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    std::int32_t m_shortcut = 0;
};

}  // namespace quorvel::gui
