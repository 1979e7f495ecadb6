#include "platform/posix/shared_library.h"

#include <dlfcn.h>

namespace quorvel::platform {

SharedLibrary SharedLibrary::Open(const std::string& file) {
    // Local binding: what the library defines reaches only those who ask it.
    return SharedLibrary(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* SharedLibrary::Symbol(const char* name) const {
    return m_handle != nullptr ? ::dlsym(m_handle, name) : nullptr;
}

void SharedLibrary::Reset(void* handle) {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
    m_handle = handle;
}

}  // namespace quorvel::platform
