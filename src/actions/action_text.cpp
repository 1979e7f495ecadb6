#include "actions/action_text.h"

#include "settings/adv_string_list.h"

namespace quorvel {

std::string ActionText(int index) {
    return Strings().Text(index);
}

}  // namespace quorvel
