#include "actions/action_text.h"

namespace quorvel {

std::string ActionText(int index) {
    switch (index) {
        case 13:
            return "Copy: ";
        case 14:
            return "Move: ";
        case 15:
            return "Rename: ";
        case 16:
            return "Delete: ";
        case 17:
            return "Create filelist";
        case 18:
            return "Execute program";
        case 19:
            return "Popup window";
        case 20:
            return "Play sound";
        case 21:
            return "File operation";
        case 49:
            return "Terminate Program";
        default:
            return {};
    }
}

}  // namespace quorvel
