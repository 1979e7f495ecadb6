// Reads arbitrary bytes as a directory item's cache file. A cache that reads
// must write back to bytes that read again and write back to themselves, and its snapshot must
// answer lookups like a walk from the front would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cache_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto contents = quorvel::cache_file::Parse(bytes);
    if (!contents) {
        return 0;
    }
    quorvel::Snapshot& snapshot = contents->snapshot;
    const std::string written = quorvel::cache_file::Serialize(snapshot);
    auto again = quorvel::cache_file::Parse(written);
    if (!again || again->snapshot.Size() != snapshot.Size() ||
        quorvel::cache_file::Serialize(again->snapshot) != written) {
        std::abort();
    }
    // Look every key up in reverse order (which builds the index), then
    // check that what is left is exactly nothing.
    const std::size_t n = snapshot.Size();
    std::vector<std::uint32_t> keys;
    for (std::size_t i = 0; i < n; ++i) {
        keys.push_back(snapshot.KeyAt(i));
    }
    snapshot.BeginLookups();
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t found = snapshot.TakeFirst(keys[i]);
        if (found == quorvel::Snapshot::npos || snapshot.KeyAt(found) != keys[i]) {
            std::abort();
        }
    }
    if (snapshot.LeftCount() != 0 ||
        snapshot.TakeFirst(n == 0 ? 0 : keys[0]) != quorvel::Snapshot::npos) {
        std::abort();
    }
    return 0;
}
