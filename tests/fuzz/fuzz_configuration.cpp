// Reads arbitrary bytes as a configuration file: every block becomes an item
// (never started) that reads its settings and writes them back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/monitor_process.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string out;
    quorvel::ForEachConfigurationBlock(
        text, [&](quorvel::ItemKind kind, bool paused, const std::vector<std::string>& lines) {
            if (auto item = quorvel::CreateItem(kind, paused)) {
                item->ReadSettings(lines);
                item->WriteSettings(out);
            }
        });
    return 0;
}
