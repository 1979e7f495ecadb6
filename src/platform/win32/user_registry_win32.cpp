#include <cstring>
#include <vector>

#include "platform/user_registry.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (m_key != nullptr) {
            ::RegCloseKey(m_key);
        }
    }
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

using Visit = std::function<void(const std::string&, const std::string&, const RegistryData&)>;

void ReadKey(HKEY parent, const std::wstring& subKey, const std::string& path, const Visit& visit,
             int depth) {
    RegKey key;
    if (depth > 32 ||
        ::RegOpenKeyExW(parent, subKey.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        return;
    }
    DWORD valueCount = 0, maxName = 0, maxData = 0, subCount = 0, maxSub = 0;
    if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subCount, &maxSub, nullptr,
                           &valueCount, &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 4);
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (::RegEnumValueW(key.Get(), i, name.data(), &nameLength, nullptr, &type, data.data(),
                            &dataLength) != ERROR_SUCCESS) {
            continue;
        }
        const std::string valueName = win32::Narrow(std::wstring_view(name.data(), nameLength));
        if (type == REG_DWORD && dataLength == sizeof(DWORD)) {
            DWORD v = 0;
            std::memcpy(&v, data.data(), sizeof(v));
            visit(path, valueName, static_cast<std::int32_t>(v));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::wstring text(reinterpret_cast<const wchar_t*>(data.data()),
                              dataLength / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') {
                text.pop_back();
            }
            visit(path, valueName, win32::Narrow(text));
        }
    }
    std::vector<wchar_t> sub(maxSub + 2);
    for (DWORD i = 0; i < subCount; ++i) {
        DWORD length = static_cast<DWORD>(sub.size());
        if (::RegEnumKeyExW(key.Get(), i, sub.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring child(sub.data(), length);
        ReadKey(key.Get(), child, path + "\\" + win32::Narrow(child), visit, depth + 1);
    }
}

}  // namespace

bool HasUserRegistry() {
    return true;
}

bool ReadUserRegistry(std::string_view root, const Visit& visit) {
    std::string path(root);
    while (!path.empty() && path.front() == '\\') {
        path.erase(0, 1);
    }
    RegKey probe;
    const std::wstring wide = win32::Widen(path);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, KEY_READ, probe.Out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    ReadKey(HKEY_CURRENT_USER, wide, path, visit, 0);
    return true;
}

}  // namespace quorvel::platform
