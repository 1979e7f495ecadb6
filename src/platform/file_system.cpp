#include "platform/file_system.h"

namespace quorvel::platform {

bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode) {
    AtomicFile file;
    return file.Open(path, mode) && file.Write(data) && file.Commit();
}

}  // namespace quorvel::platform
