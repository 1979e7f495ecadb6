// A small X client for the window list tests: shows top-level windows with
// the titles given and logs what happens to them.
//
//   x_window_helper DISPLAY LOGFILE [--hang] [--raise-first] [--no-delete]
//                   [--legacy-names] TITLE...
//   x_window_helper DISPLAY LOGFILE --wait-wm
//   x_window_helper DISPLAY LOGFILE --activate TITLE
//
// Each window carries its title, _NET_WM_PID, WM_CLIENT_MACHINE and the
// WM_DELETE_WINDOW protocol. Once all are mapped the helper logs "ready";
// a close request logs "closed TITLE" and destroys that window; the helper
// ends when no window is left. --hang never reads events after "ready" (a
// program that does not answer); --raise-first raises the first window
// above the others; --no-delete leaves out the WM_DELETE_WINDOW protocol
// (the window manager then closes the window by disconnecting us);
// --legacy-names gives WM_NAME the text "legacy TITLE" while _NET_WM_NAME
// keeps the title.
//
// --wait-wm waits until a window manager has announced itself on the root
// window and logs "wm". --activate asks the window manager, as a pager
// would, to activate (and so raise) the managed window of that title, and
// logs "activated".
#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

int g_log = -1;

void Log(const std::string& line) {
    std::string text = line + "\n";
    if (::write(g_log, text.data(), text.size()) < 0) {
        std::exit(3);
    }
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    xcb_atom_t atom = r != nullptr ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

// The 32-bit values of a property of a window (empty when it has none).
std::vector<uint32_t> Cardinals(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    std::vector<uint32_t> values;
    if (r != nullptr && r->format == 32) {
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
        values.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return values;
}

std::string Text(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    std::string text;
    if (r != nullptr && r->format == 8) {
        text.assign(static_cast<const char*>(xcb_get_property_value(r)),
                    static_cast<std::size_t>(xcb_get_property_value_length(r)));
    }
    std::free(r);
    return text;
}

// Polls until the condition holds; false after 30 seconds.
template <typename F>
bool Poll(F condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int WaitForWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_screen_t* screen) {
    xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    xcb_atom_t stacking = Atom(c, "_NET_CLIENT_LIST_STACKING");
    xcb_atom_t clients = Atom(c, "_NET_CLIENT_LIST");
    // The stacking list appears once the manager has set up its root properties.
    if (!Poll([&] {
            xcb_get_property_reply_t* r = xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, stacking, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                nullptr);
            const bool listed = r != nullptr && r->type != XCB_ATOM_NONE;
            std::free(r);
            return listed && !Cardinals(c, root, check).empty();
        })) {
        return 1;
    }
    // A manager that has announced itself may still be starting up, and a
    // window mapped then can stay unmanaged for good: a probe window shows
    // when it takes clients. A probe it missed is mapped again.
    xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    auto managed = [&] {
        for (uint32_t w : Cardinals(c, root, clients)) {
            if (w == probe) {
                return true;
            }
        }
        return false;
    };
    bool taken = false;
    for (int attempt = 0; attempt < 30 && !taken; ++attempt) {
        xcb_unmap_window(c, probe);
        xcb_map_window(c, probe);
        xcb_flush(c);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!(taken = managed()) && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    if (!taken || !Poll([&] { return !managed(); })) {
        return 1;
    }
    Log("wm");
    return 0;
}

int Activate(xcb_connection_t* c, xcb_window_t root, const std::string& title) {
    xcb_atom_t clients = Atom(c, "_NET_CLIENT_LIST");
    xcb_atom_t name = Atom(c, "_NET_WM_NAME");
    xcb_atom_t active = Atom(c, "_NET_ACTIVE_WINDOW");
    xcb_window_t target = XCB_WINDOW_NONE;
    if (!Poll([&] {
            for (uint32_t w : Cardinals(c, root, clients)) {
                if (Text(c, w, name) == title) {
                    target = w;
                    return true;
                }
            }
            return false;
        })) {
        return 1;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = target;
    event.type = active;
    event.data.data32[0] = 2;  // source: a pager, which the manager obeys
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
    Log("activated");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    g_log = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_log < 0) {
        return 2;
    }
    bool hang = false, raiseFirst = false, withDelete = true, legacyNames = false;
    bool waitWm = false, activate = false;
    std::vector<std::string> titles;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--hang") {
            hang = true;
        } else if (arg == "--raise-first") {
            raiseFirst = true;
        } else if (arg == "--no-delete") {
            withDelete = false;
        } else if (arg == "--legacy-names") {
            legacyNames = true;
        } else if (arg == "--wait-wm") {
            waitWm = true;
        } else if (arg == "--activate") {
            activate = true;
        } else {
            titles.push_back(arg);
        }
    }
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(argv[1], &screenNumber);
    if (xcb_connection_has_error(c) != 0) {
        return 2;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i) {
        xcb_screen_next(&it);
    }
    xcb_screen_t* screen = it.data;
    if (waitWm || activate) {
        int code = 2;
        if (waitWm) {
            code = WaitForWindowManager(c, screen->root, screen);
        } else if (titles.size() == 1) {
            code = Activate(c, screen->root, titles.front());
        }
        xcb_disconnect(c);
        return code;
    }
    xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
    xcb_atom_t deleteWindow = Atom(c, "WM_DELETE_WINDOW");
    xcb_atom_t netName = Atom(c, "_NET_WM_NAME");
    xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
    xcb_atom_t netPid = Atom(c, "_NET_WM_PID");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const uint32_t pid = static_cast<uint32_t>(::getpid());

    std::map<xcb_window_t, std::string> windows;
    std::vector<xcb_window_t> order;
    for (const std::string& title : titles) {
        xcb_window_t w = xcb_generate_id(c);
        uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 10, 10, 120, 80, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const std::string legacy = legacyNames ? "legacy " + title : title;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            legacy.size(), legacy.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netName, utf8, 8, title.size(),
                            title.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLIENT_MACHINE,
                            XCB_ATOM_STRING, 8, std::strlen(host), host);
        if (withDelete) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocols, XCB_ATOM_ATOM, 32, 1,
                                &deleteWindow);
        }
        xcb_map_window(c, w);
        windows[w] = title;
        order.push_back(w);
    }
    if (raiseFirst && !order.empty()) {
        uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, order.front(), XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // round trip
    Log("ready");
    if (hang) {
        while (true) {
            ::pause();
        }
    }
    while (!windows.empty()) {
        xcb_generic_event_t* event = xcb_wait_for_event(c);
        if (event == nullptr) {
            Log("disconnected");
            xcb_disconnect(c);
            return 1;
        }
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            auto found = windows.find(message->window);
            if (message->type == protocols && message->data.data32[0] == deleteWindow &&
                found != windows.end()) {
                Log("closed " + found->second);
                xcb_destroy_window(c, found->first);
                xcb_flush(c);
                windows.erase(found);
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
