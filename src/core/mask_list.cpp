#include "core/mask_list.h"

namespace quorvel {

void MaskList::Compile(std::string_view text) {
    m_masks.clear();
    m_matchAll = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(";\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view piece = text.substr(start, end - start);
        if (piece == "*") {
            m_matchAll = true;
        } else if (!piece.empty()) {
            m_masks.emplace_back(piece);
        }
        start = end + 1;
    }
}

bool MaskList::Matches(std::string_view target) const {
    if (m_matchAll) {
        return true;
    }
    for (const auto& mask : m_masks) {
        if (mask.Matches(target)) {
            return true;
        }
    }
    return false;
}

}  // namespace quorvel
