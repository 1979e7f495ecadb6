#include "settings/registry_store.h"

#include <filesystem>
#include <set>

#include "core/activity_log.h"
#include "core/text_util.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/user_registry.h"

namespace quorvel {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The characters trimmed around names and values.
constexpr std::string_view kBlanks = " \t\r";

bool IsBlank(char c) {
    return IsOneOf(c, kBlanks);
}

std::string_view Trim(std::string_view s) {
    return TrimChars(s, kBlanks);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void AppendHexByte(std::string& out, unsigned char c) {
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (IsControl(c)) {
                    out += "\\x";
                    AppendHexByte(out, c);
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted string starting at text[0] == '"'. On success stores the
// text and the number of characters used.
bool Unquote(std::string_view text, std::string& value, std::size_t& used) {
    value.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            used = i + 1;
            return true;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i >= text.size()) {
            return false;
        }
        switch (text[i]) {
            case '\\':
                value += '\\';
                break;
            case '"':
                value += '"';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            case 'x': {
                if (i + 2 >= text.size()) {
                    return false;
                }
                const int hi = HexDigit(text[i + 1]);
                const int lo = HexDigit(text[i + 2]);
                if (hi < 0 || lo < 0) {
                    return false;
                }
                value += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;  // no closing quote
}

bool IsPlainName(std::string_view name) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) {
        return false;
    }
    const char first = name.front();
    if (first == '"' || first == '[' || first == ';' || first == '#' || first == '@') {
        return false;
    }
    for (char ch : name) {
        if (ch == '=' || ch == '"' || IsControl(static_cast<unsigned char>(ch))) {
            return false;
        }
    }
    return true;
}

std::string EncodeSection(std::string_view path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        const bool edgeBlank = IsBlank(path[i]) && (i == 0 || i + 1 == path.size());
        if (c == '%' || c == '[' || c == ']' || IsControl(c) || edgeBlank) {
            out += '%';
            AppendHexByte(out, c);
        } else {
            out += path[i];
        }
    }
    return out;
}

std::string DecodeSection(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<RegistryStore::Data> ParseData(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '"') {
        std::string value;
        std::size_t used = 0;
        if (!Unquote(text, value, used) || !Trim(text.substr(used)).empty()) {
            return std::nullopt;
        }
        return RegistryStore::Data(std::move(value));
    }
    if (StartsWithIgnoreCase(text, "dword:")) {
        const std::string_view digits = text.substr(6);
        if (digits.empty() || digits.size() > 8) {
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) {
                return std::nullopt;
            }
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        return RegistryStore::Data(static_cast<std::int32_t>(v));
    }
    return RegistryStore::Data(std::string(text));
}

std::string FormatData(const RegistryStore::Data& data) {
    if (const auto* i = std::get_if<std::int32_t>(&data)) {
        std::string out = "dword:";
        const auto v = static_cast<std::uint32_t>(*i);
        for (int shift = 28; shift >= 0; shift -= 4) {
            out += kHex[(v >> shift) & 0x0F];
        }
        return out;
    }
    return Quote(std::get<std::string>(data));
}

}  // namespace

// --- RegistryKey -----------------------------------------------------------

std::optional<std::int32_t> RegistryKey::GetInt(std::string_view name) const {
    return m_store->GetInt(m_path, name);
}

std::optional<std::string> RegistryKey::GetString(std::string_view name) const {
    return m_store->GetString(m_path, name);
}

std::optional<bool> RegistryKey::GetBool(std::string_view name) const {
    auto v = GetInt(name);
    if (!v) {
        return std::nullopt;
    }
    return *v != 0;
}

bool RegistryKey::HasValue(std::string_view name) const {
    return m_store->GetValue(m_path, name).has_value();
}

bool RegistryKey::SetInt(std::string_view name, std::int32_t value) {
    return m_writable && m_store->SetInt(m_path, name, value);
}

bool RegistryKey::SetString(std::string_view name, std::string_view value) {
    return m_writable && m_store->SetString(m_path, name, value);
}

bool RegistryKey::DeleteValue(std::string_view name) {
    return m_writable && m_store->DeleteValue(m_path, name);
}

// --- RegistryStore ---------------------------------------------------------

std::string RegistryStore::DefaultPath() {
    return platform::UserConfigDirectory() + platform::kPathSeparator + "registry.ini";
}

std::string RegistryStore::NormalizePath(std::string_view keyPath) {
    std::string out;
    std::size_t pos = 0;
    while (pos <= keyPath.size()) {
        std::size_t end = keyPath.find('\\', pos);
        if (end == std::string_view::npos) {
            end = keyPath.size();
        }
        if (end > pos) {
            if (!out.empty()) {
                out += '\\';
            }
            out.append(keyPath.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return out;
}

bool RegistryStore::Load(const std::string& path) {
    m_keys.clear();
    m_path = path;
    auto text = platform::ReadWholeFile(path);
    if (!text) {
        std::error_code ec;
        // A file that is there but unreadable must not count as empty.
        return !std::filesystem::exists(path, ec) && !ec;
    }
    Parse(*text);
    return true;
}

bool RegistryStore::LoadUser(std::string_view rootKey) {
    if (!platform::HasUserRegistry()) {
        return Load(DefaultPath());
    }
    m_keys.clear();
    m_path.clear();
    platform::ReadUserRegistry(rootKey, [this](const std::string& key, const std::string& name,
                                               const platform::RegistryData& data) {
        if (const auto* number = std::get_if<std::int32_t>(&data)) {
            SetInt(key, name, *number);
        } else {
            SetString(key, name, std::get<std::string>(data));
        }
    });
    return true;
}

RegistryStore RegistryStore::FromString(std::string_view text) {
    RegistryStore store;
    store.Parse(text);
    return store;
}

void RegistryStore::Parse(std::string_view text) {
    m_keys.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    Key* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            current = nullptr;
            const std::size_t close = line.find(']');
            if (close != std::string_view::npos && Trim(line.substr(close + 1)).empty()) {
                const std::string normal = NormalizePath(DecodeSection(line.substr(1, close - 1)));
                if (!normal.empty()) {
                    current = FindOrCreateKey(normal);
                }
            }
            continue;
        }
        if (current == nullptr) {
            continue;
        }
        std::string name;
        std::string_view rest;
        if (line.front() == '"') {
            std::size_t used = 0;
            if (!Unquote(line, name, used)) {
                continue;
            }
            rest = Trim(line.substr(used));
            if (rest.empty() || rest.front() != '=') {
                continue;
            }
            rest.remove_prefix(1);
        } else {
            const std::size_t eq = line.find('=');
            if (eq == std::string_view::npos) {
                continue;
            }
            const std::string_view bare = Trim(line.substr(0, eq));
            if (bare.empty()) {
                continue;
            }
            if (bare != "@") {
                name.assign(bare);
            }
            rest = line.substr(eq + 1);
        }
        auto data = ParseData(rest);
        if (!data) {
            continue;
        }
        bool replaced = false;
        for (auto& [n, d] : current->values) {
            if (EqualsIgnoreCase(n, name)) {
                d = std::move(*data);
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            current->values.emplace_back(std::move(name), std::move(*data));
        }
    }
}

std::string RegistryStore::Serialize() const {
    std::string out =
        "; Quorvel settings. Integers are dword:<hex>, strings are quoted with C-style\n"
        "; escapes. Written by the program; edit only while it is not running.\n";
    for (const auto& [lower, key] : m_keys) {
        out += '\n';
        out += '[';
        out += EncodeSection(key.path);
        out += "]\n";
        for (const auto& [name, data] : key.values) {
            out += name.empty() ? std::string("@") : IsPlainName(name) ? name : Quote(name);
            out += '=';
            out += FormatData(data);
            out += '\n';
        }
    }
    return out;
}

bool RegistryStore::Save() const {
    return SaveTo(m_path.empty() ? DefaultPath() : m_path);
}

bool RegistryStore::SaveTo(const std::string& path) const {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !platform::CreateDirectories(parent.string(), 0700)) {
        return false;
    }
    std::string error;
    if (!platform::WriteFileAtomically(path, Serialize(), 0600, &error)) {
        ActivityLog::Report(LogLevel::Error, error);
        return false;
    }
    return true;
}

bool RegistryStore::Modify(const std::string& path,
                           const std::function<void(RegistryStore&)>& change) {
    RegistryStore store;
    if (!store.Load(path)) {
        return false;
    }
    change(store);
    return store.SaveTo(path);
}

const RegistryStore::Key* RegistryStore::FindKey(std::string_view keyPath) const {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return nullptr;
    }
    auto it = m_keys.find(ToLowerAscii(normal));
    return it == m_keys.end() ? nullptr : &it->second;
}

RegistryStore::Key* RegistryStore::FindOrCreateKey(const std::string& normalPath) {
    auto [it, inserted] = m_keys.try_emplace(ToLowerAscii(normalPath));
    if (inserted) {
        it->second.path = normalPath;
    }
    return &it->second;
}

bool RegistryStore::KeyExists(std::string_view keyPath) const {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return false;
    }
    const std::string lower = ToLowerAscii(normal);
    if (m_keys.count(lower) != 0) {
        return true;
    }
    const std::string prefix = lower + '\\';
    auto it = m_keys.lower_bound(prefix);
    return it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

bool RegistryStore::CreateKey(std::string_view keyPath) {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return false;
    }
    FindOrCreateKey(normal);
    return true;
}

bool RegistryStore::DeleteKey(std::string_view keyPath) {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return false;
    }
    const std::string lower = ToLowerAscii(normal);
    const std::string prefix = lower + '\\';
    bool found = m_keys.erase(lower) != 0;
    for (auto it = m_keys.lower_bound(prefix);
         it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
        it = m_keys.erase(it);
        found = true;
    }
    return found;
}

std::vector<std::string> RegistryStore::SubKeys(std::string_view keyPath) const {
    const std::string normal = NormalizePath(keyPath);
    const std::string prefix = normal.empty() ? std::string() : ToLowerAscii(normal) + '\\';
    std::vector<std::string> names;
    std::set<std::string_view> seen;
    for (auto it = m_keys.lower_bound(prefix);
         it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::string_view restLower = std::string_view(it->first).substr(prefix.size());
        const std::string_view child = restLower.substr(0, restLower.find('\\'));
        if (!seen.insert(child).second) {
            continue;
        }
        // The spelling as the key was written.
        names.emplace_back(std::string_view(it->second.path).substr(prefix.size(), child.size()));
    }
    return names;
}

std::vector<std::string> RegistryStore::ValueNames(std::string_view keyPath) const {
    std::vector<std::string> names;
    if (const Key* key = FindKey(keyPath)) {
        for (const auto& [name, data] : key->values) {
            names.push_back(name);
        }
    }
    return names;
}

std::optional<RegistryKey> RegistryStore::OpenKey(std::string_view keyPath, bool create) {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return std::nullopt;
    }
    if (create) {
        FindOrCreateKey(normal);
        return RegistryKey(this, normal, true);
    }
    if (!KeyExists(normal)) {
        return std::nullopt;
    }
    return RegistryKey(this, normal, false);
}

std::optional<RegistryKey> RegistryStore::OpenKey(std::string_view keyPath) const {
    const std::string normal = NormalizePath(keyPath);
    if (!KeyExists(normal)) {
        return std::nullopt;
    }
    // Read-only: the key never writes through this pointer.
    return RegistryKey(const_cast<RegistryStore*>(this), normal, false);
}

std::optional<RegistryStore::Data> RegistryStore::GetValue(std::string_view keyPath,
                                                           std::string_view name) const {
    if (const Key* key = FindKey(keyPath)) {
        for (const auto& [n, d] : key->values) {
            if (EqualsIgnoreCase(n, name)) {
                return d;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::int32_t> RegistryStore::GetInt(std::string_view keyPath,
                                                  std::string_view name) const {
    auto v = GetValue(keyPath, name);
    if (v && std::holds_alternative<std::int32_t>(*v)) {
        return std::get<std::int32_t>(*v);
    }
    return std::nullopt;
}

std::optional<std::string> RegistryStore::GetString(std::string_view keyPath,
                                                    std::string_view name) const {
    auto v = GetValue(keyPath, name);
    if (v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(std::move(*v));
    }
    return std::nullopt;
}

bool RegistryStore::SetValue(std::string_view keyPath, std::string_view name, Data value) {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return false;
    }
    Key* key = FindOrCreateKey(normal);
    for (auto& [n, d] : key->values) {
        if (EqualsIgnoreCase(n, name)) {
            d = std::move(value);
            return true;
        }
    }
    key->values.emplace_back(std::string(name), std::move(value));
    return true;
}

bool RegistryStore::SetInt(std::string_view keyPath, std::string_view name, std::int32_t value) {
    return SetValue(keyPath, name, Data(value));
}

bool RegistryStore::SetString(std::string_view keyPath, std::string_view name,
                              std::string_view value) {
    return SetValue(keyPath, name, Data(std::string(value)));
}

bool RegistryStore::DeleteValue(std::string_view keyPath, std::string_view name) {
    const std::string normal = NormalizePath(keyPath);
    if (normal.empty()) {
        return false;
    }
    auto it = m_keys.find(ToLowerAscii(normal));
    if (it == m_keys.end()) {
        return false;
    }
    auto& values = it->second.values;
    for (auto v = values.begin(); v != values.end(); ++v) {
        if (EqualsIgnoreCase(v->first, name)) {
            values.erase(v);
            return true;
        }
    }
    return false;
}

bool RegistryStore::operator==(const RegistryStore& other) const {
    return Serialize() == other.Serialize();
}

}  // namespace quorvel
