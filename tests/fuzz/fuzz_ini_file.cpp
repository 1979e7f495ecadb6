// Feeds arbitrary bytes to the profile reader; every answer must be a value
// the reader could have produced: within the length limit and valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/ini_file.h"

namespace {

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
        if (len == 0 || i + len > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quorvel::IniFile ini = quorvel::IniFile::FromString(text);
    for (const auto& section : ini.Sections()) {
        if (!ini.HasSection(section)) {
            std::abort();
        }
        for (const auto& key : ini.Keys(section)) {
            const std::string value = ini.GetString(section, key, "\x01");
            if (value.size() > 4 * quorvel::IniFile::kMaxValueLength || !ValidUtf8(value) ||
                !ini.HasKey(section, key)) {
                std::abort();
            }
        }
    }
    (void)ini.GetString("General", "HelpFile", "helpen.chm");
    (void)ini.GetString("Strings", "lngStopped", "Stopped");
    return 0;
}
