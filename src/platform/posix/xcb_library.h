#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcbext.h>

#include <string>

#include "platform/posix/shared_library.h"

namespace quorvel::platform {

/// The functions of xcb and xcb-ewmh that the X window list uses, loaded at
/// run time so that a program which never closes a window needs no X
/// libraries. The inline helpers of xcb_ewmh.h call into the library, so
/// the list calls what they call: ewmhGetWindowsReply for the client
/// lists, ewmhGetWindowReply and ewmhGetCardinalReply for single values.
/// xcb_ewmh_connection_wipe only frees memory and stays as it is.
struct XcbLibrary {
    SharedLibrary xcb;
    SharedLibrary ewmh;

    decltype(&xcb_connect) connect = nullptr;
    decltype(&xcb_disconnect) disconnect = nullptr;
    decltype(&xcb_connection_has_error) connectionHasError = nullptr;
    decltype(&xcb_get_setup) getSetup = nullptr;
    decltype(&xcb_setup_roots_iterator) setupRootsIterator = nullptr;
    decltype(&xcb_screen_next) screenNext = nullptr;
    decltype(&xcb_get_file_descriptor) getFileDescriptor = nullptr;
    decltype(&xcb_flush) flush = nullptr;
    decltype(&xcb_poll_for_event) pollForEvent = nullptr;
    decltype(&xcb_poll_for_reply) pollForReply = nullptr;
    decltype(&xcb_intern_atom) internAtom = nullptr;
    decltype(&xcb_intern_atom_reply) internAtomReply = nullptr;
    decltype(&xcb_query_tree) queryTree = nullptr;
    decltype(&xcb_query_tree_reply) queryTreeReply = nullptr;
    decltype(&xcb_query_tree_children) queryTreeChildren = nullptr;
    decltype(&xcb_query_tree_children_length) queryTreeChildrenLength = nullptr;
    decltype(&xcb_get_property) getProperty = nullptr;
    decltype(&xcb_get_property_reply) getPropertyReply = nullptr;
    decltype(&xcb_get_property_value) getPropertyValue = nullptr;
    decltype(&xcb_get_property_value_length) getPropertyValueLength = nullptr;
    decltype(&xcb_change_window_attributes) changeWindowAttributes = nullptr;
    decltype(&xcb_send_event) sendEvent = nullptr;
    decltype(&xcb_kill_client) killClient = nullptr;
    decltype(&xcb_get_input_focus) getInputFocus = nullptr;

    decltype(&xcb_ewmh_init_atoms) ewmhInitAtoms = nullptr;
    decltype(&xcb_ewmh_init_atoms_replies) ewmhInitAtomsReplies = nullptr;
    decltype(&xcb_ewmh_get_client_list_stacking) ewmhGetClientListStacking = nullptr;
    decltype(&xcb_ewmh_get_windows_reply) ewmhGetWindowsReply = nullptr;
    decltype(&xcb_ewmh_get_windows_reply_wipe) ewmhGetWindowsReplyWipe = nullptr;
    decltype(&xcb_ewmh_get_supporting_wm_check) ewmhGetSupportingWmCheck = nullptr;
    decltype(&xcb_ewmh_get_window_reply) ewmhGetWindowReply = nullptr;
    decltype(&xcb_ewmh_get_wm_pid) ewmhGetWmPid = nullptr;
    decltype(&xcb_ewmh_get_cardinal_reply) ewmhGetCardinalReply = nullptr;
    decltype(&xcb_ewmh_request_close_window) ewmhRequestCloseWindow = nullptr;
};

/// The X libraries of those files, loaded on the first call for them and
/// kept until the process ends; nullptr when a file cannot be loaded or
/// lacks one of the functions. Safe to call from any thread.
const XcbLibrary* LoadXcbLibrary(const std::string& xcbFile, const std::string& ewmhFile);

}  // namespace quorvel::platform
