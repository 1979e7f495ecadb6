#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace quorvel::platform {

/// Owns one shared library loaded at run time and unloads it when destroyed.
/// Move-only.
class SharedLibrary {
public:
    SharedLibrary() = default;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    SharedLibrary(SharedLibrary&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr)) {}
    SharedLibrary& operator=(SharedLibrary&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.m_handle, nullptr));
        }
        return *this;
    }
    ~SharedLibrary() { Reset(); }

    /// Loads the library of that file name (searched for the way the dynamic
    /// linker searches, for a name without a slash) with every symbol bound
    /// at once; an empty object when it cannot be loaded.
    static SharedLibrary Open(const std::string& file);

    explicit operator bool() const { return m_handle != nullptr; }

    /// Points function at the library's function of that name; false, and
    /// function null, when the library has none.
    template <typename Function>
    bool Resolve(Function& function, const char* name) const {
        function = reinterpret_cast<Function>(Symbol(name));
        return function != nullptr;
    }

private:
    explicit SharedLibrary(void* handle) : m_handle(handle) {}
    void* Symbol(const char* name) const;
    void Reset(void* handle = nullptr);

    void* m_handle = nullptr;
};

/// The table of functions that load makes for key, made on the first call
/// with that key and kept, with the libraries it holds, until the process
/// ends; nullptr, again at every later call, when load made none. Each
/// caller gives its own reason for never unloading. Safe to call from any
/// thread.
template <typename Table, typename Load>
const Table* KeepLoaded(const std::string& key, Load load) {
    static std::mutex mutex;
    // Never destroyed, so no library is unloaded while statics go.
    static auto* const kept = new std::map<std::string, std::unique_ptr<const Table>>();
    std::lock_guard lock(mutex);
    auto [it, added] = kept->try_emplace(key);
    if (added) {
        it->second = load();
    }
    return it->second.get();
}

}  // namespace quorvel::platform
