#include "platform/file_system.h"

#include <algorithm>

namespace quorvel::platform {

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         std::string* error) {
    auto file = InputFile::Open(path, error);
    if (!file) {
        return std::nullopt;
    }
    // A file of known size is read straight into the text; one that reports
    // none grows piece by piece.
    constexpr std::size_t kPiece = 65536;
    if (file->Size() > 0) {
        maxBytes = static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, file->Size()));
    }
    std::string data;
    std::size_t got = 0;
    while (got < maxBytes) {
        const std::size_t want =
            file->Size() > 0 ? maxBytes - got : std::min(kPiece, maxBytes - got);
        data.resize(got + want);
        const auto n = file->Read(data.data() + got, want, error);
        if (!n) {
            return std::nullopt;
        }
        if (*n == 0) {
            break;
        }
        got += *n;
    }
    data.resize(got);
    return data;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode,
                         std::string* error) {
    AtomicFile file;
    if (file.Open(path, mode) && file.Write(data) && file.Commit()) {
        return true;
    }
    if (error != nullptr) {
        *error = file.Error();
    }
    return false;
}

}  // namespace quorvel::platform
