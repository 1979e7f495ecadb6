#include "platform/scan_pool.h"

namespace quorvel::platform {

// Walks stay on the calling thread here: the listing carries the entries'
// details already, which leaves little to read ahead.
struct ScanPool::Impl {};

ScanPool::ScanPool() : m_impl(std::make_unique<Impl>()) {}

ScanPool::~ScanPool() = default;

ScanPool& ScanPool::Process() {
    static ScanPool pool;
    return pool;
}

int ScanPool::DefaultWalkers() {
    return 1;
}

std::size_t ScanPool::ThreadCount() const {
    return 0;
}

bool ScanPool::Scan(const std::string& root, DirectoryScanner::Visitor& visitor, int /*walkers*/) {
    return DirectoryScanner::Scan(root, visitor);
}

}  // namespace quorvel::platform
