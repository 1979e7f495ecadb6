#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

#include "platform/hot_key.h"

namespace quorvel::platform {

namespace {

// Lock and NumLock (Mod2 on every common keyboard map) must not matter.
constexpr std::uint16_t kIgnored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t kRelevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

xcb_connection_t* Conn(void* c) {
    return static_cast<xcb_connection_t*>(c);
}

}  // namespace

std::uint32_t KeysymForVirtualKey(int vk) {
    if (vk >= 'A' && vk <= 'Z') {
        return static_cast<std::uint32_t>('a' + (vk - 'A'));
    }
    if (vk >= '0' && vk <= '9') {
        return static_cast<std::uint32_t>(vk);
    }
    if (vk >= 0x70 && vk <= 0x87) {  // F1 .. F24
        return 0xffbe + static_cast<std::uint32_t>(vk - 0x70);
    }
    if (vk >= 0x60 && vk <= 0x69) {  // keypad digits
        return 0xffb0 + static_cast<std::uint32_t>(vk - 0x60);
    }
    switch (vk) {
        case 0x08:
            return 0xff08;  // backspace
        case 0x09:
            return 0xff09;  // tab
        case 0x0D:
            return 0xff0d;  // return
        case 0x1B:
            return 0xff1b;  // escape
        case 0x20:
            return 0x0020;  // space
        case 0x21:
            return 0xff55;  // page up
        case 0x22:
            return 0xff56;  // page down
        case 0x23:
            return 0xff57;  // end
        case 0x24:
            return 0xff50;  // home
        case 0x25:
            return 0xff51;  // left
        case 0x26:
            return 0xff52;  // up
        case 0x27:
            return 0xff53;  // right
        case 0x28:
            return 0xff54;  // down
        case 0x2D:
            return 0xff63;  // insert
        case 0x2E:
            return 0xffff;  // delete
        case 0x13:
            return 0xff13;  // pause
        case 0x91:
            return 0xff14;  // scroll lock
        default:
            return 0;
    }
}

GlobalHotKey::GlobalHotKey(void* connection) : m_connection(connection) {
    if (m_connection != nullptr) {
        const xcb_setup_t* setup = xcb_get_setup(Conn(m_connection));
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        if (it.rem > 0) {
            m_root = it.data->root;
        }
    }
}

GlobalHotKey::~GlobalHotKey() {
    Unregister();
}

bool GlobalHotKey::Register(std::int32_t shortcut) {
    Unregister();
    if (m_connection == nullptr || m_root == 0 || shortcut == 0) {
        return false;
    }
    const std::uint32_t keysym = KeysymForVirtualKey(shortcut & 0xFF);
    if (keysym == 0) {
        return false;
    }
    std::uint16_t modifiers = 0;
    if ((shortcut & ShortcutValue::kShift) != 0) {
        modifiers |= XCB_MOD_MASK_SHIFT;
    }
    if ((shortcut & ShortcutValue::kControl) != 0) {
        modifiers |= XCB_MOD_MASK_CONTROL;
    }
    if ((shortcut & ShortcutValue::kAlt) != 0) {
        modifiers |= XCB_MOD_MASK_1;
    }
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(Conn(m_connection));
    if (symbols == nullptr) {
        return false;
    }
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    std::vector<std::uint8_t> keycodes;
    for (xcb_keycode_t* c = codes; c != nullptr && *c != XCB_NO_SYMBOL; ++c) {
        keycodes.push_back(*c);
    }
    std::free(codes);
    xcb_key_symbols_free(symbols);
    bool refused = keycodes.empty();
    for (std::uint8_t code : keycodes) {
        for (std::uint16_t extra : kIgnored) {
            xcb_void_cookie_t cookie =
                xcb_grab_key_checked(Conn(m_connection), 1, m_root, modifiers | extra, code,
                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(Conn(m_connection), cookie)) {
                refused = true;  // BadAccess: another program holds it
                std::free(error);
            }
        }
    }
    m_keycodes = std::move(keycodes);
    m_modifiers = modifiers;
    if (refused) {
        Unregister();
        return false;
    }
    xcb_flush(Conn(m_connection));
    return true;
}

void GlobalHotKey::Unregister() {
    if (m_connection == nullptr) {
        return;
    }
    for (std::uint8_t code : m_keycodes) {
        for (std::uint16_t extra : kIgnored) {
            xcb_ungrab_key(Conn(m_connection), code, m_root, m_modifiers | extra);
        }
    }
    if (!m_keycodes.empty()) {
        xcb_flush(Conn(m_connection));
    }
    m_keycodes.clear();
}

bool GlobalHotKey::Matches(const void* event) const {
    if (event == nullptr || m_keycodes.empty()) {
        return false;
    }
    const auto* generic = static_cast<const xcb_generic_event_t*>(event);
    if ((generic->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto* press = static_cast<const xcb_key_press_event_t*>(event);
    if ((press->state & kRelevant) != m_modifiers) {
        return false;
    }
    for (std::uint8_t code : m_keycodes) {
        if (press->detail == code) {
            return true;
        }
    }
    return false;
}

}  // namespace quorvel::platform
