#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/param.h"
#include "settings/registry_store.h"

namespace quorvel {

/// A setting that lives as a value under a registry key path. The value name,
/// value, default and range come from the typed parameter it is paired with.
class RegParam {
public:
    explicit RegParam(std::string keyPath) : m_keyPath(std::move(keyPath)) {}
    virtual ~RegParam() = default;
    RegParam(const RegParam&) = delete;
    RegParam& operator=(const RegParam&) = delete;

    /// Writes the value into the open key.
    virtual void Save(RegistryKey& key) const = 0;
    /// Reads the value from the open key; a missing value, or one of another
    /// type, leaves the parameter as it is.
    virtual void Load(const RegistryKey& key) = 0;

    /// The typed parameter (value name, reset, text conversions).
    virtual Param& AsParam() = 0;
    virtual const Param& AsParam() const = 0;

    const std::string& KeyPath() const { return m_keyPath; }

private:
    std::string m_keyPath;
};

/// A 32-bit integer value; one outside the range loads as the range's minimum.
class IntRegParam : public RegParam, public IntParam {
public:
    IntRegParam(std::string keyPath, std::string name, std::int32_t defaultValue,
                std::int32_t minimum, std::int32_t maximum)
        : RegParam(std::move(keyPath)), IntParam(std::move(name), defaultValue, minimum, maximum) {}

    void Save(RegistryKey& key) const override;
    void Load(const RegistryKey& key) override;
    Param& AsParam() override { return *this; }
    const Param& AsParam() const override { return *this; }
};

/// A string value, read through StringParam::SetFromString.
class StringRegParam : public RegParam, public StringParam {
public:
    StringRegParam(std::string keyPath, std::string name, std::string defaultValue)
        : RegParam(std::move(keyPath)), StringParam(std::move(name), std::move(defaultValue)) {}

    void Save(RegistryKey& key) const override;
    void Load(const RegistryKey& key) override;
    Param& AsParam() override { return *this; }
    const Param& AsParam() const override { return *this; }
};

/// A boolean stored as an integer 0 or 1 (any non-zero integer reads as true).
class BoolRegParam : public RegParam, public BoolParam {
public:
    BoolRegParam(std::string keyPath, std::string name, bool defaultValue)
        : RegParam(std::move(keyPath)), BoolParam(std::move(name), defaultValue) {}

    void Save(RegistryKey& key) const override;
    void Load(const RegistryKey& key) override;
    Param& AsParam() override { return *this; }
    const Param& AsParam() const override { return *this; }
};

/// The program-wide options, kept under "\Software\Feldrane\Quorvel" in the
/// user's registry store. Every accessor locks, so worker threads may read an
/// option while the user interface changes or reloads them.
class Options {
public:
    static constexpr std::string_view kKeyPath = "\\Software\\Feldrane\\Quorvel";
    static constexpr std::size_t kCount = 17;
    static constexpr std::string_view kDefaultLanguage = "English.lng";

    /// Builds the seventeen options with their defaults; "CacheDirectory"
    /// defaults to cacheDirectoryDefault (empty: the user's cache directory,
    /// $XDG_CACHE_HOME/quorvel).
    explicit Options(std::string cacheDirectoryDefault = {});
    ~Options();
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    /// The process's options. Created on first use and ended after main,
    /// when every thread that reads it has been joined.
    static Options& Instance();

    /// Reads every option, in list order, from its key in the store; options
    /// whose key or value is missing (or of another type) keep their value.
    void LoadAll(const RegistryStore& store);
    /// Writes every option, in list order, creating the key.
    void SaveAll(RegistryStore& store) const;
    /// LoadAll from the user's store file; false when that file exists but
    /// cannot be read (the options keep their values).
    bool LoadAll();
    /// SaveAll into the user's store file, keeping every other key and value
    /// in it; false when it could not be read or written.
    bool SaveAll() const;
    /// Every option back to its default.
    void ResetAll();
    /// Copies every value from other.
    void AssignFrom(const Options& other);

    std::size_t Count() const { return kCount; }
    /// Value name of option i in list order (empty outside the list).
    std::string Name(std::size_t index) const;

    bool SavePosition() const;
    bool StartMinimized() const;
    bool OneInstance() const;
    bool ConfDelete() const;
    bool ConfSave() const;
    bool ConfQuit() const;
    std::string CacheDirectory() const;
    bool TrayMinimize() const;
    bool SingleRestore() const;
    bool HideIcon() const;
    std::int32_t RestoreKey() const;
    bool MenuImages() const;
    /// Refresh interval of the countdown display, 1 to 10 seconds.
    std::int32_t Interval() const;
    bool ShowToolbar() const;
    bool ShowStatusBar() const;
    /// File name of the language file in the "Lang" directory.
    std::string Language() const;
    /// Threads that read a directory tree at once in a whole check, the
    /// check's own included: 0 one per core, 1 the check's thread alone.
    /// Values outside 0 to 256 read as 0.
    std::int32_t Walkers() const;

    void SetSavePosition(bool value);
    void SetStartMinimized(bool value);
    void SetOneInstance(bool value);
    void SetConfDelete(bool value);
    void SetConfSave(bool value);
    void SetConfQuit(bool value);
    void SetCacheDirectory(std::string_view value);
    void SetTrayMinimize(bool value);
    void SetSingleRestore(bool value);
    void SetHideIcon(bool value);
    void SetRestoreKey(std::int32_t value);
    void SetMenuImages(bool value);
    /// Values outside 1 to 10 become 1.
    void SetInterval(long long value);
    void SetShowToolbar(bool value);
    void SetShowStatusBar(bool value);
    void SetLanguage(std::string_view value);
    /// Values outside 0 to 256 become 0.
    void SetWalkers(long long value);

private:
    template <typename T, typename... Args>
    T& Add(Args&&... args) {
        auto p = std::make_unique<T>(std::string(kKeyPath), std::forward<Args>(args)...);
        T& ref = *p;
        m_list.push_back(std::move(p));
        return ref;
    }
    bool GetBool(const BoolRegParam& p) const;
    void SetBool(BoolRegParam& p, bool value);

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<RegParam>> m_list;
    BoolRegParam& m_savePosition;
    BoolRegParam& m_startMinimized;
    BoolRegParam& m_oneInstance;
    BoolRegParam& m_confDelete;
    BoolRegParam& m_confSave;
    BoolRegParam& m_confQuit;
    StringRegParam& m_cacheDirectory;
    BoolRegParam& m_trayMinimize;
    BoolRegParam& m_singleRestore;
    BoolRegParam& m_hideIcon;
    IntRegParam& m_restoreKey;
    BoolRegParam& m_menuImages;
    IntRegParam& m_interval;
    BoolRegParam& m_showToolbar;
    BoolRegParam& m_showStatusBar;
    StringRegParam& m_language;
    IntRegParam& m_walkers;
};

}  // namespace quorvel
