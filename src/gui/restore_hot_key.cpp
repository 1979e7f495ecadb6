#include "gui/restore_hot_key.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "platform/hot_key.h"

namespace quorvel::gui {

namespace {

void* X11Connection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? static_cast<void*>(x11->connection()) : nullptr;
}

}  // namespace

RestoreHotKey::RestoreHotKey(QObject* parent) : QObject(parent) {
    m_key = std::make_unique<platform::GlobalHotKey>(X11Connection());
    QCoreApplication::instance()->installNativeEventFilter(this);
}

RestoreHotKey::~RestoreHotKey() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool RestoreHotKey::Available() {
    return X11Connection() != nullptr;
}

bool RestoreHotKey::Register(std::int32_t shortcut) {
    if (shortcut == m_shortcut && (shortcut == 0 || m_key->Registered())) {
        return shortcut == 0 || m_key->Registered();
    }
    m_shortcut = shortcut;
    if (shortcut == 0) {
        m_key->Unregister();
        return true;
    }
    return m_key->Register(shortcut);
}

bool RestoreHotKey::Registered() const {
    return m_key->Registered();
}

bool RestoreHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType == "xcb_generic_event_t" && m_key->Matches(message)) {
        emit Pressed();
        return true;
    }
    return false;
}

}  // namespace quorvel::gui
