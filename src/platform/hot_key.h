#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvel::platform {

/// A key combination stored as the options store keeps it: a virtual key
/// code in the low byte (letters and digits as their upper-case character,
/// F1 = 0x70, ...) and the flags below.
struct ShortcutValue {
    static constexpr std::int32_t kShift = 0x2000;
    static constexpr std::int32_t kControl = 0x4000;
    static constexpr std::int32_t kAlt = 0x8000;
};

/// The X key symbol of a virtual key code; 0 for one without.
std::uint32_t KeysymForVirtualKey(int virtualKey);

/// A key combination grabbed on the X display's root window, so that its
/// presses reach this program wherever the focus is. The grab covers every
/// keycode of the key and the Lock and NumLock states.
class GlobalHotKey {
public:
    /// connection: the program's own connection to the display (an
    /// xcb_connection_t*); nothing works without one.
    explicit GlobalHotKey(void* connection);
    ~GlobalHotKey();
    GlobalHotKey(const GlobalHotKey&) = delete;
    GlobalHotKey& operator=(const GlobalHotKey&) = delete;

    /// Grabs the combination of a stored shortcut value (0: none, and the
    /// previous one is released). False when the key has no keycode here
    /// or another program holds the combination.
    bool Register(std::int32_t shortcut);
    void Unregister();
    bool Registered() const { return !m_keycodes.empty(); }
    /// True when the X event (an xcb_generic_event_t*) is a press of the
    /// registered combination.
    bool Matches(const void* event) const;

private:
    void* m_connection;
    std::uint32_t m_root = 0;
    std::vector<std::uint8_t> m_keycodes;
    std::uint16_t m_modifiers = 0;
};

}  // namespace quorvel::platform
