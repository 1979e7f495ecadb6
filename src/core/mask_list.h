#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/mask_matcher.h"

namespace quorvel {

/// A list of wildcard masks; it matches when one of them matches. An empty
/// list matches nothing.
class MaskList {
public:
    /// Splits text at every ";" and line break; empty pieces are dropped and
    /// the others kept as they are (a blank belongs to the mask).
    void Compile(std::string_view text);
    bool Matches(std::string_view target) const;
    bool Empty() const { return m_masks.empty() && !m_matchAll; }
    std::size_t Count() const { return m_masks.size() + (m_matchAll ? 1 : 0); }

private:
    std::vector<WildcardMask> m_masks;
    bool m_matchAll = false;  // a "*" piece: every target matches
};

}  // namespace quorvel
