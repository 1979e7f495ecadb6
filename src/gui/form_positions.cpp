#include "gui/form_positions.h"

#include <QGuiApplication>

#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "settings/options.h"
#include "settings/registry_store.h"

namespace quorvel::gui {

namespace {

std::string ProgramKey() {
    return std::string(Options::kKeyPath);
}

}  // namespace

std::string OptionsStorePath() {
    return RegistryStore::DefaultPath();
}

FormPositions::FormPositions(QWidget* window, std::string suffix, bool resizable)
    : m_window(window), m_suffix(std::move(suffix)), m_resizable(resizable) {}

std::string FormPositions::KeyPath() const {
    return ProgramKey() + m_suffix;
}

void FormPositions::Restore() {
    RegistryStore store;
    const bool read = store.Load(OptionsStorePath());
    const auto key = read ? store.OpenKey(KeyPath()) : std::nullopt;
    if (!key) {
        // First start: centred on the screen, as large as it leaves room for.
        const QScreen* screen =
            m_window->screen() != nullptr ? m_window->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            m_window->resize(m_window->size().boundedTo(RoomOn(*screen)));
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
        return;
    }
    QRect geometry = m_window->geometry();
    if (auto left = key->GetInt("Left")) {
        geometry.moveLeft(*left);
    }
    if (auto top = key->GetInt("Top")) {
        geometry.moveTop(*top);
    }
    if (m_resizable) {
        if (auto width = key->GetInt("Width"); width && *width > 0) {
            geometry.setWidth(*width);
        }
        if (auto height = key->GetInt("Height"); height && *height > 0) {
            geometry.setHeight(*height);
        }
    }
    m_window->setGeometry(OnAScreen(geometry));
    // A minimized start is the option's to decide ("StartMinimized"), never
    // the state the window was last left in.
    if (m_resizable) {
        if (auto state = key->GetInt("WindowState"); state && *state == 2) {
            m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
        }
    }
}

QRect FormPositions::OnAScreen(QRect geometry) const {
    // Where the placement fits a present screen it stays as it was.
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(geometry)) {
            return geometry;
        }
    }
    // Otherwise centred on the screen it is mostly on (or the window's),
    // at the saved size as far as the screen takes it.
    const QScreen* best = nullptr;
    int bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(geometry);
        if (common.width() * common.height() > bestArea) {
            bestArea = common.width() * common.height();
            best = screen;
        }
    }
    if (best == nullptr) {
        best =
            m_window->screen() != nullptr ? m_window->screen() : QGuiApplication::primaryScreen();
    }
    if (best == nullptr) {
        return geometry;
    }
    QSize size = geometry.size().boundedTo(RoomOn(*best));
    size = size.expandedTo(m_window->minimumSize());
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(best->availableGeometry().center());
    return placed;
}

QSize FormPositions::RoomOn(const QScreen& screen) const {
    // The frame around the client area takes room of its own.
    const QRect frame = m_window->frameGeometry();
    const QSize decoration(std::max(0, frame.width() - m_window->width()),
                           std::max(0, frame.height() - m_window->height()));
    return screen.availableGeometry().size() - decoration;
}

void FormPositions::Save() {
    if (!Options::Instance().SavePosition()) {
        return;
    }
    const bool maximized = (m_window->windowState() & Qt::WindowMaximized) != 0;
    // The normal bounds, also when the window is minimized now.
    const QRect bounds =
        m_window->normalGeometry().isValid() ? m_window->normalGeometry() : m_window->geometry();
    const std::string path = KeyPath();
    RegistryStore::Modify(OptionsStorePath(), [&](RegistryStore& store) {
        auto key = store.OpenKey(path, true);
        if (!key) {
            return;
        }
        if (!maximized) {
            key->SetInt("Left", bounds.left());
            key->SetInt("Top", bounds.top());
            if (m_resizable) {
                key->SetInt("Width", bounds.width());
                key->SetInt("Height", bounds.height());
            }
        }
        if (m_resizable) {
            // Minimized (to the tray) counts as normal: the next start
            // comes up on the screen unless "StartMinimized" says otherwise.
            key->SetInt("WindowState", maximized ? 2 : 0);
        }
    });
}

void SaveColumnWidths(const std::string& prefix, const std::vector<int>& widths) {
    RegistryStore::Modify(OptionsStorePath(), [&](RegistryStore& store) {
        auto key = store.OpenKey(ProgramKey(), true);
        if (!key) {
            return;
        }
        for (std::size_t i = 0; i < widths.size(); ++i) {
            key->SetInt(prefix + std::to_string(i), widths[i]);
        }
    });
}

std::vector<int> LoadColumnWidths(const std::string& prefix, std::vector<int> widths) {
    RegistryStore store;
    if (!store.Load(OptionsStorePath())) {
        return widths;
    }
    const auto key = store.OpenKey(ProgramKey());
    if (!key) {
        return widths;
    }
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (auto w = key->GetInt(prefix + std::to_string(i)); w && *w > 0) {
            widths[i] = *w;
        }
    }
    return widths;
}

}  // namespace quorvel::gui
