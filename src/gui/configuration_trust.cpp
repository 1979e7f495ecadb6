#include "gui/configuration_trust.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "engine/monitor_process.h"
#include "gui/form_positions.h"
#include "settings/options.h"
#include "settings/registry_store.h"

namespace quorvel::gui {

namespace {

std::string TrustKey() {
    return std::string(Options::kKeyPath) + "\\Trusted";
}

std::string ValueName(const QString& path) {
    return QFileInfo(path).absoluteFilePath().toStdString();
}

std::string Hash(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex().toStdString();
}

}  // namespace

bool ConfigurationTrust::IsTrusted(const QString& path, const QByteArray& content) {
    RegistryStore store;
    if (!store.Load(OptionsStorePath())) {
        return false;
    }
    const auto key = store.OpenKey(TrustKey());
    if (!key) {
        return false;
    }
    const auto known = key->GetString(ValueName(path));
    return known && *known == Hash(content);
}

bool ConfigurationTrust::Trust(const QString& path, const QByteArray& content) {
    bool stored = false;
    const bool written = RegistryStore::Modify(OptionsStorePath(), [&](RegistryStore& store) {
        if (auto key = store.OpenKey(TrustKey(), true)) {
            stored = key->SetString(ValueName(path), Hash(content));
        }
    });
    return written && stored;
}

std::vector<std::string> ActionsThatAct(const MonitorProcess& list, std::size_t limit,
                                        std::size_t* count) {
    std::vector<std::string> found;
    std::size_t all = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const auto item = list.Get(i);
        if (!item) {
            continue;
        }
        for (const auto& action : *item->Actions()) {
            if (!action || !action->Enabled()) {
                continue;
            }
            const ActionKind kind = action->Kind();
            if (kind != ActionKind::Execute && kind != ActionKind::FileOp &&
                kind != ActionKind::Kill) {
                continue;
            }
            ++all;
            if (found.size() < limit) {
                found.push_back(action->Describe());
            }
        }
    }
    if (count != nullptr) {
        *count = all;
    }
    return found;
}

}  // namespace quorvel::gui
