#include "settings/options.h"

#include <limits>

#include "platform/paths.h"

namespace quorvel {

void IntRegParam::Save(RegistryKey& key) const {
    key.SetInt(Key(), Value());
}

void IntRegParam::Load(const RegistryKey& key) {
    if (auto v = key.GetInt(Key())) {
        SetValue(*v);
    }
}

void StringRegParam::Save(RegistryKey& key) const {
    key.SetString(Key(), Value());
}

void StringRegParam::Load(const RegistryKey& key) {
    if (auto v = key.GetString(Key())) {
        SetFromString(*v);
    }
}

void BoolRegParam::Save(RegistryKey& key) const {
    key.SetBool(Key(), Value());
}

void BoolRegParam::Load(const RegistryKey& key) {
    if (auto v = key.GetBool(Key())) {
        SetValue(*v);
    }
}

Options::Options(std::string cacheDirectoryDefault)
    : m_savePosition(Add<BoolRegParam>("SavePosition", true)),
      m_startMinimized(Add<BoolRegParam>("StartMinimized", false)),
      m_oneInstance(Add<BoolRegParam>("OneInstance", false)),
      m_confDelete(Add<BoolRegParam>("ConfDelete", true)),
      m_confSave(Add<BoolRegParam>("ConfSave", true)),
      m_confQuit(Add<BoolRegParam>("ConfQuit", false)),
      m_cacheDirectory(Add<StringRegParam>(
          "CacheDirectory", cacheDirectoryDefault.empty() ? platform::DefaultCacheDirectory()
                                                          : std::move(cacheDirectoryDefault))),
      m_trayMinimize(Add<BoolRegParam>("TrayMinimize", true)),
      m_singleRestore(Add<BoolRegParam>("SingleRestore", false)),
      m_hideIcon(Add<BoolRegParam>("HideIcon", false)),
      m_restoreKey(Add<IntRegParam>("RestoreKey", 0, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max())),
      m_menuImages(Add<BoolRegParam>("MenuImages", true)),
      m_interval(Add<IntRegParam>("Interval", 1, 1, 10)),
      m_showToolbar(Add<BoolRegParam>("ShowToolbar", true)),
      m_showStatusBar(Add<BoolRegParam>("ShowStatusBar", true)),
      m_language(Add<StringRegParam>("Language", std::string(kDefaultLanguage))),
      m_walkers(Add<IntRegParam>("Walkers", 0, 0, 256)) {}

Options::~Options() {
    // Last to first, then the list.
    while (!m_list.empty()) {
        m_list.pop_back();
    }
}

Options& Options::Instance() {
    // Ended after main, once every thread that reads it has been joined.
    static Options instance;
    return instance;
}

void Options::LoadAll(const RegistryStore& store) {
    std::lock_guard lock(m_mutex);
    for (auto& p : m_list) {
        if (auto key = store.OpenKey(p->KeyPath())) {
            p->Load(*key);
        }
    }
}

void Options::SaveAll(RegistryStore& store) const {
    std::lock_guard lock(m_mutex);
    for (const auto& p : m_list) {
        if (auto key = store.OpenKey(p->KeyPath(), true)) {
            p->Save(*key);
        }
    }
}

bool Options::LoadAll() {
    RegistryStore store;
    if (!store.LoadUser(kKeyPath)) {
        return false;
    }
    LoadAll(store);
    return true;
}

bool Options::SaveAll() const {
    return RegistryStore::Modify(RegistryStore::DefaultPath(),
                                 [this](RegistryStore& store) { SaveAll(store); });
}

void Options::ResetAll() {
    std::lock_guard lock(m_mutex);
    for (auto& p : m_list) {
        p->AsParam().Reset();
    }
}

void Options::AssignFrom(const Options& other) {
    if (&other == this) {
        return;
    }
    std::scoped_lock lock(m_mutex, other.m_mutex);
    for (std::size_t i = 0; i < m_list.size(); ++i) {
        m_list[i]->AsParam().Assign(other.m_list[i]->AsParam());
    }
}

std::string Options::Name(std::size_t index) const {
    return index < m_list.size() ? m_list[index]->AsParam().Key() : std::string();
}

bool Options::GetBool(const BoolRegParam& p) const {
    std::lock_guard lock(m_mutex);
    return p.Value();
}

void Options::SetBool(BoolRegParam& p, bool value) {
    std::lock_guard lock(m_mutex);
    p.SetValue(value);
}

bool Options::SavePosition() const {
    return GetBool(m_savePosition);
}
bool Options::StartMinimized() const {
    return GetBool(m_startMinimized);
}
bool Options::OneInstance() const {
    return GetBool(m_oneInstance);
}
bool Options::ConfDelete() const {
    return GetBool(m_confDelete);
}
bool Options::ConfSave() const {
    return GetBool(m_confSave);
}
bool Options::ConfQuit() const {
    return GetBool(m_confQuit);
}
bool Options::TrayMinimize() const {
    return GetBool(m_trayMinimize);
}
bool Options::SingleRestore() const {
    return GetBool(m_singleRestore);
}
bool Options::HideIcon() const {
    return GetBool(m_hideIcon);
}
bool Options::MenuImages() const {
    return GetBool(m_menuImages);
}
bool Options::ShowToolbar() const {
    return GetBool(m_showToolbar);
}
bool Options::ShowStatusBar() const {
    return GetBool(m_showStatusBar);
}

std::string Options::CacheDirectory() const {
    std::lock_guard lock(m_mutex);
    return m_cacheDirectory.Value();
}

std::string Options::Language() const {
    std::lock_guard lock(m_mutex);
    return m_language.Value();
}

std::int32_t Options::RestoreKey() const {
    std::lock_guard lock(m_mutex);
    return m_restoreKey.Value();
}

std::int32_t Options::Interval() const {
    std::lock_guard lock(m_mutex);
    return m_interval.Value();
}

std::int32_t Options::Walkers() const {
    std::lock_guard lock(m_mutex);
    return m_walkers.Value();
}

void Options::SetSavePosition(bool value) {
    SetBool(m_savePosition, value);
}
void Options::SetStartMinimized(bool value) {
    SetBool(m_startMinimized, value);
}
void Options::SetOneInstance(bool value) {
    SetBool(m_oneInstance, value);
}
void Options::SetConfDelete(bool value) {
    SetBool(m_confDelete, value);
}
void Options::SetConfSave(bool value) {
    SetBool(m_confSave, value);
}
void Options::SetConfQuit(bool value) {
    SetBool(m_confQuit, value);
}
void Options::SetTrayMinimize(bool value) {
    SetBool(m_trayMinimize, value);
}
void Options::SetSingleRestore(bool value) {
    SetBool(m_singleRestore, value);
}
void Options::SetHideIcon(bool value) {
    SetBool(m_hideIcon, value);
}
void Options::SetMenuImages(bool value) {
    SetBool(m_menuImages, value);
}
void Options::SetShowToolbar(bool value) {
    SetBool(m_showToolbar, value);
}
void Options::SetShowStatusBar(bool value) {
    SetBool(m_showStatusBar, value);
}

void Options::SetCacheDirectory(std::string_view value) {
    std::lock_guard lock(m_mutex);
    m_cacheDirectory.SetFromString(value);
}

void Options::SetLanguage(std::string_view value) {
    std::lock_guard lock(m_mutex);
    m_language.SetFromString(value);
}

void Options::SetRestoreKey(std::int32_t value) {
    std::lock_guard lock(m_mutex);
    m_restoreKey.SetValue(value);
}

void Options::SetInterval(long long value) {
    std::lock_guard lock(m_mutex);
    m_interval.SetValue(value);
}

void Options::SetWalkers(long long value) {
    std::lock_guard lock(m_mutex);
    m_walkers.SetValue(value);
}

}  // namespace quorvel
