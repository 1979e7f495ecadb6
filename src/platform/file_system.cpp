#include "platform/file_system.h"

namespace quorvel::platform {

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
