#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace quorvel::gui {

/// The program's icon in the notification area. Enabled follows the option
/// "TrayMinimize", hidden follows "HideIcon"; with the main window's setup
/// (always shown) the icon is there while enabled and not hidden. A left
/// click or a double click calls the restore handler chosen by
/// "SingleRestore"; a right click opens the tray menu. Where the desktop has
/// no notification area nothing is shown and the rest works as usual.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(QMenu* menu, QObject* parent = nullptr);
    ~TrayIcon() override;

    void SetEnabled(bool enabled);
    void SetHidden(bool hidden);
    /// At most 63 characters reach the notification area.
    void SetHint(const QString& hint);
    void SetIcon(const QIcon& icon);
    /// Shows the icon again (after the notification area restarted, say).
    void Add();
    void SetOnClick(std::function<void()> handler) { m_onClick = std::move(handler); }
    void SetOnDoubleClick(std::function<void()> handler) { m_onDoubleClick = std::move(handler); }

    bool Enabled() const { return m_enabled; }
    bool Hidden() const { return m_hidden; }
    bool Visible() const;
    QString Hint() const { return m_hint; }
    /// How many times the hint was handed to the notification area (tests).
    int HintUpdates() const { return m_hintUpdates; }
    /// True where the desktop offers a notification area.
    static bool Supported();
    QSystemTrayIcon* Native() const { return m_tray; }

private:
    void Update();

    QSystemTrayIcon* m_tray;
    bool m_enabled = false;
    bool m_hidden = false;
    QString m_hint;
    int m_hintUpdates = 0;
    std::function<void()> m_onClick;
    std::function<void()> m_onDoubleClick;
};

}  // namespace quorvel::gui
