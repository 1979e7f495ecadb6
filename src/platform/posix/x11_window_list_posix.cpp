#include <poll.h>
#include <signal.h>
#include <unistd.h>

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
#include "platform/posix/xcb_library.h"

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
    explicit X11WindowList(const XcbLibrary& x) : m_x(x) {}

    ~X11WindowList() override {
        if (m_ewmhReady) {
            xcb_ewmh_connection_wipe(&m_ewmh);
        }
        if (m_conn != nullptr) {
            m_x.disconnect(m_conn);
        }
    }

    bool Connect(const std::string& display) {
        int screen = 0;
        m_conn = m_x.connect(display.empty() ? nullptr : display.c_str(), &screen);
        if (m_conn == nullptr || m_x.connectionHasError(m_conn) != 0) {
            return false;
        }
        const xcb_setup_t* setup = m_x.getSetup(m_conn);
        xcb_screen_iterator_t it = m_x.setupRootsIterator(setup);
        for (int i = 0; i < screen && it.rem > 0; ++i) {
            m_x.screenNext(&it);
        }
        if (it.rem == 0) {
            return false;
        }
        m_root = it.data->root;
        m_screen = screen;
        xcb_intern_atom_cookie_t* cookies = m_x.ewmhInitAtoms(m_conn, &m_ewmh);
        if (cookies == nullptr || m_x.ewmhInitAtomsReplies(&m_ewmh, cookies, nullptr) == 0) {
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
        if (m_x.ewmhGetWindowsReply(&m_ewmh, m_x.ewmhGetClientListStacking(&m_ewmh, m_screen),
                                    &list, nullptr) != 0) {
            // An empty list from the window manager means no clients; its
            // frames and own windows are never programs to close.
            ids.assign(list.windows, list.windows + list.windows_len);
            m_x.ewmhGetWindowsReplyWipe(&list);
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
        m_x.changeWindowAttributes(m_conn, id, XCB_CW_EVENT_MASK, &mask);
        if (SupportsDelete(id)) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = id;
            event.type = m_wmProtocols;
            event.data.data32[0] = m_wmDelete;
            event.data.data32[1] = XCB_CURRENT_TIME;
            m_x.sendEvent(m_conn, 0, id, XCB_EVENT_MASK_NO_EVENT,
                          reinterpret_cast<const char*>(&event));
        } else if (HasWindowManager()) {
            m_x.ewmhRequestCloseWindow(&m_ewmh, m_screen, id, XCB_CURRENT_TIME,
                                       XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        } else {
            // No polite way exists for such a window; this is what window
            // managers do with it.
            m_x.killClient(m_conn, id);
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
        XReply<xcb_intern_atom_reply_t> reply(m_x.internAtomReply(
            m_conn, m_x.internAtom(m_conn, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr));
        return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }

    std::vector<xcb_window_t> Children(xcb_window_t parent) {
        XReply<xcb_query_tree_reply_t> tree(
            m_x.queryTreeReply(m_conn, m_x.queryTree(m_conn, parent), nullptr));
        if (!tree) {
            return {};
        }
        xcb_window_t* c = m_x.queryTreeChildren(tree.get());
        return std::vector<xcb_window_t>(c, c + m_x.queryTreeChildrenLength(tree.get()));
    }

    bool HasProperty(xcb_window_t window, xcb_atom_t property) {
        XReply<xcb_get_property_reply_t> reply(m_x.getPropertyReply(
            m_conn, m_x.getProperty(m_conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
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
        XReply<xcb_get_property_reply_t> reply(m_x.getPropertyReply(
            m_conn,
            m_x.getProperty(m_conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 8192),
            nullptr));
        if (!reply || reply->format != 8) {
            return {};
        }
        const char* value = static_cast<const char*>(m_x.getPropertyValue(reply.get()));
        std::string text(value, static_cast<std::size_t>(m_x.getPropertyValueLength(reply.get())));
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
        if (m_x.ewmhGetCardinalReply(&m_ewmh, m_x.ewmhGetWmPid(&m_ewmh, window), &pid, nullptr) ==
            0) {
            return 0;
        }
        return static_cast<int>(pid);
    }

    bool SupportsDelete(xcb_window_t window) {
        XReply<xcb_get_property_reply_t> reply(m_x.getPropertyReply(
            m_conn, m_x.getProperty(m_conn, 0, window, m_wmProtocols, XCB_ATOM_ATOM, 0, 64),
            nullptr));
        if (!reply || reply->format != 32) {
            return false;
        }
        const auto* atoms = static_cast<const xcb_atom_t*>(m_x.getPropertyValue(reply.get()));
        int count = m_x.getPropertyValueLength(reply.get()) / 4;
        return std::find(atoms, atoms + count, m_wmDelete) != atoms + count;
    }

    bool HasWindowManager() {
        xcb_window_t check = XCB_WINDOW_NONE;
        return m_x.ewmhGetWindowReply(&m_ewmh, m_x.ewmhGetSupportingWmCheck(&m_ewmh, m_root),
                                      &check, nullptr) != 0 &&
               check != XCB_WINDOW_NONE;
    }

    // Waits for the connection's descriptor until the deadline.
    bool WaitReadable(Clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        struct pollfd p = {m_x.getFileDescriptor(m_conn), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
    }

    // Makes sure the server has handled every request sent so far.
    bool RoundTrip(Clock::time_point deadline) {
        xcb_get_input_focus_cookie_t cookie = m_x.getInputFocus(m_conn);
        m_x.flush(m_conn);
        while (true) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (m_x.pollForReply(m_conn, cookie.sequence, &reply, &error) != 0) {
                std::free(reply);
                std::free(error);
                return true;
            }
            if (m_x.connectionHasError(m_conn) != 0 || !WaitReadable(deadline)) {
                return false;
            }
            // Reading queues events; poll_for_event drains what arrived.
            while (xcb_generic_event_t* event = m_x.pollForEvent(m_conn)) {
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
        while (m_x.connectionHasError(m_conn) == 0) {
            while (xcb_generic_event_t* raw = m_x.pollForEvent(m_conn)) {
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

    const XcbLibrary& m_x;
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

std::unique_ptr<WindowList> OpenX11WindowList(const std::string& display,
                                              const XcbLibraryFiles& files) {
    // Without the libraries there is no display to open.
    const XcbLibrary* x = LoadXcbLibrary(files.xcb, files.ewmh);
    if (x == nullptr) {
        return nullptr;
    }
    auto list = std::make_unique<X11WindowList>(*x);
    if (!list->Connect(display)) {
        return nullptr;
    }
    return list;
}

}  // namespace quorvel::platform
