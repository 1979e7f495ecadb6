#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quorvel {

class RegistryStore;

/// An open key of a RegistryStore: the store and a key path. It stays valid
/// as long as the store lives; the key itself need not exist for reads.
class RegistryKey {
public:
    const std::string& Path() const { return m_path; }
    bool Writable() const { return m_writable; }

    std::optional<std::int32_t> GetInt(std::string_view name) const;
    std::optional<std::string> GetString(std::string_view name) const;
    /// An integer value read as a boolean: 0 is false, anything else true.
    std::optional<bool> GetBool(std::string_view name) const;
    bool HasValue(std::string_view name) const;

    /// Setters answer false on a key opened for reading only.
    bool SetInt(std::string_view name, std::int32_t value);
    bool SetString(std::string_view name, std::string_view value);
    bool SetBool(std::string_view name, bool value) { return SetInt(name, value ? 1 : 0); }
    bool DeleteValue(std::string_view name);

private:
    friend class RegistryStore;
    RegistryKey(RegistryStore* store, std::string path, bool writable)
        : m_store(store), m_path(std::move(path)), m_writable(writable) {}

    RegistryStore* m_store;
    std::string m_path;
    bool m_writable;
};

/// A small store shaped like the registry: keys named by paths of components
/// separated by "\" (a leading "\" is ignored; empty components are dropped),
/// each holding named values that are either 32-bit integers or strings. Key
/// paths and value names match without regard to ASCII letter case.
///
/// It lives in one INI-style text file, one section per key path:
///
///     [Software\Feldrane\Quorvel\Positions\Main]
///     Left=dword:00000019
///     Language="German.lng"
///     "odd = name"="line one\nline two"
///     @="the key's default value"
///
/// - An integer is "dword:" and its 32 bits as 1 to 8 hex digits (always 8
///   when written; negative numbers in two's complement).
/// - A string is written in double quotes, with "\\", "\"", "\n", "\r", "\t"
///   and "\xHH" (any other control byte) as escapes; other bytes are written
///   as they are, so UTF-8 text stays readable. A value that is neither
///   quoted nor "dword:" is read as the string it spells, blanks around it
///   removed (for values edited by hand).
/// - A value name is written bare when it is plain, else quoted like a
///   string; "@" names the empty (default) value name.
/// - In section names, "%", "[", "]", control bytes and blanks at either end
///   are written as "%HH".
/// - Empty lines and lines starting with ";" or "#" are comments. A line that
///   does not parse is skipped; a later value of the same name replaces an
///   earlier one.
///
/// The store is a plain container: one thread at a time.
class RegistryStore {
public:
    using Data = std::variant<std::int32_t, std::string>;

    RegistryStore() = default;

    /// The user's store: UserConfigDirectory()/registry.ini.
    static std::string DefaultPath();

    /// Replaces the contents by the file's and remembers the path for Save.
    /// A missing file gives an empty store. Answers false only when the file
    /// exists but cannot be read (the store is then empty too), so callers
    /// can avoid overwriting a file they could not read.
    bool Load(const std::string& path);
    bool Load() { return Load(DefaultPath()); }
    /// Replaces the contents by the user's settings under rootKey: the
    /// system's own registry where it has one (Windows), else the file at
    /// DefaultPath(). Answers as Load does; a missing key is an empty store.
    bool LoadUser(std::string_view rootKey);
    /// Replaces the contents by those parsed from text.
    void Parse(std::string_view text);
    static RegistryStore FromString(std::string_view text);
    /// The file text of the store.
    std::string Serialize() const;

    /// Writes the store atomically (mode 0600, the directory created with
    /// mode 0700) to the path it was loaded from, or to DefaultPath().
    /// False when anything failed; the old file then stays as it was.
    bool Save() const;
    bool SaveTo(const std::string& path) const;
    const std::string& Path() const { return m_path; }

    /// Loads the file at path, lets change edit the store and saves it again.
    /// Does nothing and answers false when the file exists but cannot be read.
    static bool Modify(const std::string& path, const std::function<void(RegistryStore&)>& change);

    /// The path in its normal form ("A\B"), empty when it names no key.
    static std::string NormalizePath(std::string_view keyPath);

    /// True when the key was created or holds values, or a sub-key exists.
    bool KeyExists(std::string_view keyPath) const;
    /// Creates the key (and so its parents); false for an empty path.
    bool CreateKey(std::string_view keyPath);
    /// Removes the key with its values and sub-keys; false when it did not exist.
    bool DeleteKey(std::string_view keyPath);
    /// Names of the direct sub-keys, each once.
    std::vector<std::string> SubKeys(std::string_view keyPath) const;
    /// Names of the key's values in the order they were first set.
    std::vector<std::string> ValueNames(std::string_view keyPath) const;

    /// Opens a key. Without create, nothing when the key does not exist and
    /// the answer may only read; with create, the key is created first.
    std::optional<RegistryKey> OpenKey(std::string_view keyPath, bool create);
    std::optional<RegistryKey> OpenKey(std::string_view keyPath) const;

    /// Typed reads: a value of the other type reads as absent.
    std::optional<std::int32_t> GetInt(std::string_view keyPath, std::string_view name) const;
    std::optional<std::string> GetString(std::string_view keyPath, std::string_view name) const;
    std::optional<Data> GetValue(std::string_view keyPath, std::string_view name) const;

    /// Writes create the key; false for an empty path.
    bool SetInt(std::string_view keyPath, std::string_view name, std::int32_t value);
    bool SetString(std::string_view keyPath, std::string_view name, std::string_view value);
    bool SetValue(std::string_view keyPath, std::string_view name, Data value);
    bool DeleteValue(std::string_view keyPath, std::string_view name);

    bool Empty() const { return m_keys.empty(); }
    void Clear() { m_keys.clear(); }

    bool operator==(const RegistryStore& other) const;

private:
    struct Key {
        std::string path;  // normal form as first written
        std::vector<std::pair<std::string, Data>> values;
    };
    const Key* FindKey(std::string_view keyPath) const;
    Key* FindOrCreateKey(const std::string& normalPath);

    std::string m_path;
    std::map<std::string, Key> m_keys;  // lower-case normal path -> key
};

}  // namespace quorvel
