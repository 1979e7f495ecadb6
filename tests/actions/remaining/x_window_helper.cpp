// A small X client for the window list tests: shows top-level windows with
// the titles given and logs what happens to them.
//
//   x_window_helper DISPLAY LOGFILE [--hang] [--raise-first] TITLE...
//
// Each window carries its title, _NET_WM_PID, WM_CLIENT_MACHINE and the
// WM_DELETE_WINDOW protocol. Once all are mapped the helper logs "ready";
// a close request logs "closed TITLE" and destroys that window; the helper
// ends when no window is left. --hang never reads events after "ready" (a
// program that does not answer); --raise-first raises the first window
// above the others.
#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return 2;
    }
    g_log = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_log < 0) {
        return 2;
    }
    bool hang = false, raiseFirst = false;
    std::vector<std::string> titles;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--hang") {
            hang = true;
        } else if (arg == "--raise-first") {
            raiseFirst = true;
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
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            title.size(), title.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netName, utf8, 8, title.size(),
                            title.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLIENT_MACHINE,
                            XCB_ATOM_STRING, 8, std::strlen(host), host);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, protocols, XCB_ATOM_ATOM, 32, 1,
                            &deleteWindow);
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
