#include "gui/hot_key_edit.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "platform/hot_key.h"

namespace quorvel::gui {

namespace {

using platform::ShortcutValue;

// Virtual key codes of the keys that are neither letters, digits nor
// function keys.
struct KeyCode {
    Qt::Key key;
    int code;
};
constexpr KeyCode kOtherKeys[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},    {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D},     {Qt::Key_Pause, 0x13},  {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},     {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},       {Qt::Key_Home, 0x24},   {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},        {Qt::Key_Right, 0x27},  {Qt::Key_Down, 0x28},
    {Qt::Key_Insert, 0x2D},    {Qt::Key_Delete, 0x2E}, {Qt::Key_ScrollLock, 0x91},
};

int VirtualKeyOf(Qt::Key key, bool keypad) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return 'A' + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return (keypad ? 0x60 : '0') + (key - Qt::Key_0);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return 0x70 + (key - Qt::Key_F1);
    }
    for (const KeyCode& k : kOtherKeys) {
        if (k.key == key) {
            return k.code;
        }
    }
    return 0;
}

Qt::Key KeyOfVirtualKey(int code, bool* keypad) {
    *keypad = false;
    if (code >= 'A' && code <= 'Z') {
        return static_cast<Qt::Key>(Qt::Key_A + (code - 'A'));
    }
    if (code >= '0' && code <= '9') {
        return static_cast<Qt::Key>(Qt::Key_0 + (code - '0'));
    }
    if (code >= 0x60 && code <= 0x69) {
        *keypad = true;
        return static_cast<Qt::Key>(Qt::Key_0 + (code - 0x60));
    }
    if (code >= 0x70 && code <= 0x87) {
        return static_cast<Qt::Key>(Qt::Key_F1 + (code - 0x70));
    }
    for (const KeyCode& k : kOtherKeys) {
        if (k.code == code) {
            return k.key;
        }
    }
    return Qt::Key_unknown;
}

}  // namespace

HotKeyEdit::HotKeyEdit(QWidget* parent) : QKeySequenceEdit(parent) {
    // An empty field means no hot key; the inner field's prompt is not ours.
    if (auto* field = findChild<QLineEdit*>()) {
        field->setPlaceholderText(QString());
    }
}

void HotKeyEdit::SetShortcut(std::int32_t shortcut) {
    m_shortcut = shortcut;
    setKeySequence(SequenceOf(shortcut));
}

std::int32_t HotKeyEdit::CodeOf(QKeyCombination combination) {
    const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
    if ((mods & (Qt::ControlModifier | Qt::AltModifier)) == 0 || (mods & Qt::MetaModifier) != 0) {
        return 0;
    }
    const int key = VirtualKeyOf(combination.key(), (mods & Qt::KeypadModifier) != 0);
    if (key == 0) {
        return 0;
    }
    std::int32_t code = key;
    if (mods & Qt::ShiftModifier) {
        code |= ShortcutValue::kShift;
    }
    if (mods & Qt::ControlModifier) {
        code |= ShortcutValue::kControl;
    }
    if (mods & Qt::AltModifier) {
        code |= ShortcutValue::kAlt;
    }
    return code;
}

QKeySequence HotKeyEdit::SequenceOf(std::int32_t shortcut) {
    bool keypad = false;
    const Qt::Key key = KeyOfVirtualKey(shortcut & 0xFF, &keypad);
    if (shortcut == 0 || key == Qt::Key_unknown) {
        return {};
    }
    Qt::KeyboardModifiers mods;
    if (shortcut & ShortcutValue::kShift) {
        mods |= Qt::ShiftModifier;
    }
    if (shortcut & ShortcutValue::kControl) {
        mods |= Qt::ControlModifier;
    }
    if (shortcut & ShortcutValue::kAlt) {
        mods |= Qt::AltModifier;
    }
    if (keypad) {
        mods |= Qt::KeypadModifier;
    }
    return QKeySequence(QKeyCombination(mods, key));
}

void HotKeyEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
        key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_unknown) {
        event->accept();  // a modifier alone waits for its key
        return;
    }
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if ((mods & ~Qt::ShiftModifier) == 0) {
        if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && mods == Qt::NoModifier) {
            SetShortcut(0);
            emit editingFinished();
            event->accept();
        } else if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            focusNextPrevChild(key == Qt::Key_Tab && mods == Qt::NoModifier);
            event->accept();
        } else {
            event->ignore();  // refused: the dialog may take it
        }
        return;
    }
    if (const std::int32_t code = CodeOf(event->keyCombination()); code != 0) {
        SetShortcut(code);
        emit editingFinished();
    }
    event->accept();
}

void HotKeyEdit::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

}  // namespace quorvel::gui
