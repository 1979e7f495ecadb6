// Feeds arbitrary templates to the macro expander, against one record and
// against lists of several shapes. Include and Environment are left to the
// unit tests: a fuzzed path must not read the machine's files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "actions/macro_expander.h"

namespace {

using quorvel::DateTime;
using quorvel::FileData;
using quorvel::FileKind;
using quorvel::FileList;

const FileList& Records() {
    static const FileList files = [] {
        FileList f;
        f.emplace_back(std::string("C:\\logs\\app\\error.log"), DateTime(37422.6042), 1234567,
                       FileKind::Changed);
        f.emplace_back(std::string("/srv/data/r\xC3\xA9port.tar.gz"), DateTime(-1.0), -5,
                       FileKind::Added);
        f.emplace_back(std::nullopt, DateTime(1e300), 0, FileKind::Deleted);
        f.emplace_back(std::string("\\\\server\\share\\x"), DateTime(-700000.0), INT64_MIN,
                       FileKind::Old);
        return f;
    }();
    return files;
}

// Blanks out the macros that reach outside the process's memory.
bool ReachesOutside(std::string_view text) {
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
        const char a = static_cast<char>(text[i] | 0x20);
        const char b = static_cast<char>(text[i + 1] | 0x20);
        const char c = static_cast<char>(text[i + 2] | 0x20);
        if ((a == 'i' && b == 'n' && c == 'c') || (a == 'e' && b == 'n' && c == 'v')) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const int first = static_cast<int8_t>(data[0]) % 8;
    const int count = static_cast<int8_t>(data[1]) % 8;
    const uint8_t mode = data[2];
    std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
    if (ReachesOutside(text)) {
        return 0;
    }
    const FileList& files = Records();
    switch (mode % 3) {
        case 0: {
            const std::string out = quorvel::ExpandRecord(files[mode / 3 % files.size()], text);
            (void)out;
            break;
        }
        case 1: {
            const auto result = quorvel::ExpandList(files, DateTime(45000.5), text, first, count);
            if (result.used < 1 || result.used > static_cast<int>(files.size())) {
                __builtin_trap();
            }
            break;
        }
        default: {
            const FileList none;
            const auto result = quorvel::ExpandList(none, DateTime(45000.5), text, first, count);
            if (result.used != 1) {
                __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
