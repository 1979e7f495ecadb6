#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/window_list_backends.h"

namespace quorvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XReply = std::unique_ptr<T, FreeDeleter<T>>;

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

class X11WindowList : public WindowList {
public:
    ~X11WindowList() override {
        if (m_ewmhReady) {
            xcb_ewmh_connection_wipe(&m_ewmh);
        }
        if (m_conn != nullptr) {
            xcb_disconnect(m_conn);
        }
    }

    bool Connect(const std::string& display) {
        int screen = 0;
        m_conn = xcb_connect(display.empty() ? nullptr : display.c_str(), &screen);
        if (m_conn == nullptr || xcb_connection_has_error(m_conn) != 0) {
            return false;
        }
        const xcb_setup_t* setup = xcb_get_setup(m_conn);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screen && it.rem > 0; ++i) {
            xcb_screen_next(&it);
        }
        if (it.rem == 0) {
            return false;
        }
        m_root = it.data->root;
        m_screen = screen;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_conn, &m_ewmh);
        if (cookies == nullptr || xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr) == 0) {
            return false;
        }
        m_ewmhReady = true;
        m_wmProtocols = Atom("WM_PROTOCOLS");
        m_wmDelete = Atom("WM_DELETE_WINDOW");
        m_wmState = Atom("WM_STATE");
        m_host = HostName();
        return true;
    }

    std::vector<TopLevelWindow> Windows() override {
        std::vector<xcb_window_t> ids;
        xcb_ewmh_get_windows_reply_t list;
        if (xcb_ewmh_get_client_list_stacking_reply(
                &m_ewmh, xcb_ewmh_get_client_list_stacking(&m_ewmh, m_screen), &list, nullptr) !=
            0) {
            // An empty list from the window manager means no clients; its
            // frames and own windows are never programs to close.
            ids.assign(list.windows, list.windows + list.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&list);
        } else {
            ids = RootChildren();
        }
        std::reverse(ids.begin(), ids.end());  // the server lists bottom first
        std::vector<TopLevelWindow> windows;
        windows.reserve(ids.size());
        for (xcb_window_t id : ids) {
            windows.push_back({id, Title(id), Pid(id)});
        }
        return windows;
    }

    bool Close(const TopLevelWindow& window, std::chrono::milliseconds wait) override {
        const auto deadline = Clock::now() + wait;
        auto id = static_cast<xcb_window_t>(window.id);
        // Watch the window so we can tell when the program has let it go.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, id, XCB_CW_EVENT_MASK, &mask);
        if (SupportsDelete(id)) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = id;
            event.type = m_wmProtocols;
            event.data.data32[0] = m_wmDelete;
            event.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(m_conn, 0, id, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&event));
        } else if (HasWindowManager()) {
            xcb_ewmh_request_close_window(&m_ewmh, m_screen, id, XCB_CURRENT_TIME,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        } else {
            // No polite way exists for such a window; this is what window
            // managers do with it.
            xcb_kill_client(m_conn, id);
        }
        if (!RoundTrip(deadline)) {
            return false;
        }
        WaitForWindowGone(id, deadline);
        return true;
    }

    bool Terminate(const TopLevelWindow& window) override {
        if (window.pid <= 0 || window.pid == ::getpid()) {
            return false;
        }
        std::string machine = ClientMachine(static_cast<xcb_window_t>(window.id));
        if (!machine.empty() && !m_host.empty() && machine != m_host) {
            return false;  // the process id belongs to another machine
        }
        return ::kill(window.pid, SIGKILL) == 0;
    }

private:
    xcb_atom_t Atom(const char* name) {
        XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            m_conn, xcb_intern_atom(m_conn, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr));
        return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }

    std::vector<xcb_window_t> Children(xcb_window_t parent) {
        XReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, parent), nullptr));
        if (!tree) {
            return {};
        }
        xcb_window_t* c = xcb_query_tree_children(tree.get());
        return std::vector<xcb_window_t>(c, c + xcb_query_tree_children_length(tree.get()));
    }

    bool HasProperty(xcb_window_t window, xcb_atom_t property) {
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
            nullptr));
        return reply && reply->type != XCB_ATOM_NONE;
    }

    // Without a window manager's client list: the root's children, where a
    // frame stands for the client window inside it.
    std::vector<xcb_window_t> RootChildren() {
        std::vector<xcb_window_t> ids;
        for (xcb_window_t child : Children(m_root)) {
            xcb_window_t chosen = child;
            if (!HasProperty(child, m_wmState) && !HasProperty(child, XCB_ATOM_WM_NAME)) {
                for (xcb_window_t inner : Children(child)) {
                    if (HasProperty(inner, m_wmState)) {
                        chosen = inner;
                        break;
                    }
                }
            }
            ids.push_back(chosen);
        }
        return ids;
    }

    std::string TextProperty(xcb_window_t window, xcb_atom_t property) {
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_conn,
            xcb_get_property(m_conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 8192),
            nullptr));
        if (!reply || reply->format != 8) {
            return {};
        }
        const char* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
        std::string text(value,
                         static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
        if (auto nul = text.find('\0'); nul != std::string::npos) {
            text.resize(nul);
        }
        return text;
    }

    std::string Title(xcb_window_t window) {
        std::string title = TextProperty(window, m_ewmh._NET_WM_NAME);
        if (title.empty()) {
            title = TextProperty(window, XCB_ATOM_WM_NAME);
        }
        return title;
    }

    std::string ClientMachine(xcb_window_t window) {
        return TextProperty(window, XCB_ATOM_WM_CLIENT_MACHINE);
    }

    int Pid(xcb_window_t window) {
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&m_ewmh, xcb_ewmh_get_wm_pid(&m_ewmh, window), &pid,
                                      nullptr) == 0) {
            return 0;
        }
        return static_cast<int>(pid);
    }

    bool SupportsDelete(xcb_window_t window) {
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, window, m_wmProtocols, XCB_ATOM_ATOM, 0, 64),
            nullptr));
        if (!reply || reply->format != 32) {
            return false;
        }
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        int count = xcb_get_property_value_length(reply.get()) / 4;
        return std::find(atoms, atoms + count, m_wmDelete) != atoms + count;
    }

    bool HasWindowManager() {
        xcb_window_t check = XCB_WINDOW_NONE;
        return xcb_ewmh_get_supporting_wm_check_reply(
                   &m_ewmh, xcb_ewmh_get_supporting_wm_check(&m_ewmh, m_root), &check, nullptr) !=
                   0 &&
               check != XCB_WINDOW_NONE;
    }

    // Waits for the connection's descriptor until the deadline.
    bool WaitReadable(Clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        struct pollfd p = {xcb_get_file_descriptor(m_conn), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
    }

    // Makes sure the server has handled every request sent so far.
    bool RoundTrip(Clock::time_point deadline) {
        xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(m_conn);
        xcb_flush(m_conn);
        while (true) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (xcb_poll_for_reply(m_conn, cookie.sequence, &reply, &error) != 0) {
                std::free(reply);
                std::free(error);
                return true;
            }
            if (xcb_connection_has_error(m_conn) != 0 || !WaitReadable(deadline)) {
                return false;
            }
            // Reading queues events; poll_for_event drains what arrived.
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
                m_events.emplace_back(event);
            }
        }
    }

    void WaitForWindowGone(xcb_window_t window, Clock::time_point deadline) {
        auto gone = [&](xcb_generic_event_t* event) {
            uint8_t type = event->response_type & 0x7f;
            if (type == XCB_DESTROY_NOTIFY) {
                return reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window;
            }
            if (type == XCB_UNMAP_NOTIFY) {
                return reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window == window;
            }
            return false;
        };
        for (auto& event : m_events) {
            if (gone(event.get())) {
                m_events.clear();
                return;
            }
        }
        m_events.clear();
        while (xcb_connection_has_error(m_conn) == 0) {
            while (xcb_generic_event_t* raw = xcb_poll_for_event(m_conn)) {
                XReply<xcb_generic_event_t> event(raw);
                if (gone(raw)) {
                    return;
                }
            }
            if (!WaitReadable(deadline)) {
                return;
            }
        }
    }

    xcb_connection_t* m_conn = nullptr;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ewmhReady = false;
    xcb_window_t m_root = 0;
    int m_screen = 0;
    xcb_atom_t m_wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t m_wmDelete = XCB_ATOM_NONE;
    xcb_atom_t m_wmState = XCB_ATOM_NONE;
    std::string m_host;
    std::vector<XReply<xcb_generic_event_t>> m_events;
};

}  // namespace

std::unique_ptr<WindowList> OpenX11WindowList(const std::string& display) {
    auto list = std::make_unique<X11WindowList>();
    if (!list->Connect(display)) {
        return nullptr;
    }
    return list;
}

}  // namespace quorvel::platform
