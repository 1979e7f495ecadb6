#include "gui/pictures.h"

#include <QFile>
#include <QHash>

// The pictures live in a static library: their resource registers itself
// only when asked to by name.
static void RegisterPictureResources() {
    Q_INIT_RESOURCE(quorvin);
}

namespace quorvel::gui {

namespace {

QString PathOf(const QString& name) {
    return QStringLiteral(":/icons/") + name + ".svg";
}

}  // namespace

void Pictures::Register() {
    static const bool done = [] {
        RegisterPictureResources();
        return true;
    }();
    (void)done;
}

QIcon Pictures::Named(const QString& name) {
    Register();
    static QHash<QString, QIcon> cache;
    auto it = cache.find(name);
    if (it != cache.end()) {
        return *it;
    }
    QIcon icon;
    if (QFile::exists(PathOf(name))) {
        icon = QIcon(PathOf(name));
    }
    cache.insert(name, icon);
    return icon;
}

QIcon Pictures::WithDisabled(const QString& name, const QString& disabledName) {
    QIcon icon;
    icon.addFile(PathOf(name), QSize(), QIcon::Normal);
    icon.addFile(PathOf(disabledName), QSize(), QIcon::Disabled);
    return icon;
}

QIcon Pictures::State(ItemState state) {
    static const char* const kNames[] = {"bmpUnknown", "bmpOK",   "bmpError", "bmpNoFile",
                                         "bmpPause",   "bmpWait", "bmpRun",   "bmpSeparator"};
    const auto index = static_cast<std::size_t>(state);
    return index < std::size(kNames) ? Named(kNames[index]) : QIcon();
}

QIcon Pictures::ActionKindPicture(ActionKind kind) {
    static const char* const kNames[] = {"actList", "actRun",  "actPopup",
                                         "actSnd",  "actFile", "actKill"};
    const auto index = static_cast<std::size_t>(kind);
    return index < std::size(kNames) ? Named(kNames[index]) : QIcon();
}

QIcon Pictures::Application() {
    return Named("quorvel");
}

}  // namespace quorvel::gui
