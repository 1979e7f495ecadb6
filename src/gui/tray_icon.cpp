#include "gui/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace quorvel::gui {

namespace {

constexpr int kHintLength = 63;

}  // namespace

TrayIcon::TrayIcon(QMenu* menu, QObject* parent)
    : QObject(parent), m_tray(new QSystemTrayIcon(this)) {
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && m_onClick) {
                    m_onClick();
                } else if (reason == QSystemTrayIcon::DoubleClick && m_onDoubleClick) {
                    m_onDoubleClick();
                }
            });
}

TrayIcon::~TrayIcon() {
    m_tray->hide();
}

bool TrayIcon::Supported() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::SetEnabled(bool enabled) {
    m_enabled = enabled;
    Update();
}

void TrayIcon::SetHidden(bool hidden) {
    m_hidden = hidden;
    Update();
}

void TrayIcon::SetHint(const QString& hint) {
    const QString cut = hint.left(kHintLength);
    if (cut == m_hint) {
        return;
    }
    m_hint = cut;
    ++m_hintUpdates;
    m_tray->setToolTip(m_hint);
}

void TrayIcon::SetIcon(const QIcon& icon) {
    m_tray->setIcon(icon);
}

void TrayIcon::Add() {
    if (m_enabled && !m_hidden && Supported()) {
        // Hiding and showing again registers the icon anew, so it comes
        // back after the notification area restarted.
        if (!m_tray->isVisible()) {
            m_tray->show();
        }
    }
}

bool TrayIcon::Visible() const {
    return m_tray->isVisible();
}

void TrayIcon::Update() {
    if (m_enabled && !m_hidden) {
        m_tray->show();
    } else {
        m_tray->hide();
    }
}

}  // namespace quorvel::gui
