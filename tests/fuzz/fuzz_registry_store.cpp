// Feeds arbitrary bytes to the store's file parser. Whatever it makes of
// them must write out as a file that reads back as the same store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/registry_store.h"

namespace {

// Every key under path, with its values, must read the same from both stores.
void CompareTree(const quorvel::RegistryStore& a, const quorvel::RegistryStore& b,
                 const std::string& path, int depth) {
    if (depth > 64) {
        return;
    }
    for (const auto& name : a.ValueNames(path)) {
        if (a.GetValue(path, name) != b.GetValue(path, name)) {
            std::abort();
        }
    }
    for (const auto& sub : a.SubKeys(path)) {
        const std::string child = path.empty() ? sub : path + "\\" + sub;
        if (!b.KeyExists(child)) {
            std::abort();
        }
        CompareTree(a, b, child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quorvel::RegistryStore store = quorvel::RegistryStore::FromString(text);
    const std::string once = store.Serialize();
    const quorvel::RegistryStore again = quorvel::RegistryStore::FromString(once);
    if (again.Serialize() != once) {
        std::abort();
    }
    CompareTree(store, again, "", 0);
    (void)store.GetInt("Software\\Feldrane\\Quorvel", "Interval");
    return 0;
}
