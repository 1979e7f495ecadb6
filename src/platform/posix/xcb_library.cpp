#include "platform/posix/xcb_library.h"

#include <memory>

namespace quorvel::platform {

namespace {

bool ResolveXcb(XcbLibrary& x) {
    const SharedLibrary& lib = x.xcb;
    return lib.Resolve(x.connect, "xcb_connect") && lib.Resolve(x.disconnect, "xcb_disconnect") &&
           lib.Resolve(x.connectionHasError, "xcb_connection_has_error") &&
           lib.Resolve(x.getSetup, "xcb_get_setup") &&
           lib.Resolve(x.setupRootsIterator, "xcb_setup_roots_iterator") &&
           lib.Resolve(x.screenNext, "xcb_screen_next") &&
           lib.Resolve(x.getFileDescriptor, "xcb_get_file_descriptor") &&
           lib.Resolve(x.flush, "xcb_flush") && lib.Resolve(x.pollForEvent, "xcb_poll_for_event") &&
           lib.Resolve(x.pollForReply, "xcb_poll_for_reply") &&
           lib.Resolve(x.internAtom, "xcb_intern_atom") &&
           lib.Resolve(x.internAtomReply, "xcb_intern_atom_reply") &&
           lib.Resolve(x.queryTree, "xcb_query_tree") &&
           lib.Resolve(x.queryTreeReply, "xcb_query_tree_reply") &&
           lib.Resolve(x.queryTreeChildren, "xcb_query_tree_children") &&
           lib.Resolve(x.queryTreeChildrenLength, "xcb_query_tree_children_length") &&
           lib.Resolve(x.getProperty, "xcb_get_property") &&
           lib.Resolve(x.getPropertyReply, "xcb_get_property_reply") &&
           lib.Resolve(x.getPropertyValue, "xcb_get_property_value") &&
           lib.Resolve(x.getPropertyValueLength, "xcb_get_property_value_length") &&
           lib.Resolve(x.changeWindowAttributes, "xcb_change_window_attributes") &&
           lib.Resolve(x.sendEvent, "xcb_send_event") &&
           lib.Resolve(x.killClient, "xcb_kill_client") &&
           lib.Resolve(x.getInputFocus, "xcb_get_input_focus");
}

bool ResolveEwmh(XcbLibrary& x) {
    const SharedLibrary& lib = x.ewmh;
    return lib.Resolve(x.ewmhInitAtoms, "xcb_ewmh_init_atoms") &&
           lib.Resolve(x.ewmhInitAtomsReplies, "xcb_ewmh_init_atoms_replies") &&
           lib.Resolve(x.ewmhGetClientListStacking, "xcb_ewmh_get_client_list_stacking") &&
           lib.Resolve(x.ewmhGetWindowsReply, "xcb_ewmh_get_windows_reply") &&
           lib.Resolve(x.ewmhGetWindowsReplyWipe, "xcb_ewmh_get_windows_reply_wipe") &&
           lib.Resolve(x.ewmhGetSupportingWmCheck, "xcb_ewmh_get_supporting_wm_check") &&
           lib.Resolve(x.ewmhGetWindowReply, "xcb_ewmh_get_window_reply") &&
           lib.Resolve(x.ewmhGetWmPid, "xcb_ewmh_get_wm_pid") &&
           lib.Resolve(x.ewmhGetCardinalReply, "xcb_ewmh_get_cardinal_reply") &&
           lib.Resolve(x.ewmhRequestCloseWindow, "xcb_ewmh_request_close_window");
}

}  // namespace

const XcbLibrary* LoadXcbLibrary(const std::string& xcbFile, const std::string& ewmhFile) {
    // Kept loaded: connections may be open on other threads while the
    // process's statics are destroyed, and the desktop program has the same
    // xcb loaded for its own use anyway.
    return KeepLoaded<XcbLibrary>(xcbFile + '\n' + ewmhFile, [&]() -> std::unique_ptr<XcbLibrary> {
        auto x = std::make_unique<XcbLibrary>();
        x->xcb = SharedLibrary::Open(xcbFile);
        x->ewmh = SharedLibrary::Open(ewmhFile);
        if (!x->xcb || !x->ewmh || !ResolveXcb(*x) || !ResolveEwmh(*x)) {
            return nullptr;
        }
        return x;
    });
}

}  // namespace quorvel::platform
