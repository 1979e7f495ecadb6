#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <memory>

namespace quorvel::platform {
class GlobalHotKey;
}

namespace quorvel::gui {

/// The restore hot key ("RestoreKey") on an X11 desktop. Without an X
/// display (Wayland, the offscreen platform) no key can be registered.
class RestoreHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit RestoreHotKey(QObject* parent = nullptr);
    ~RestoreHotKey() override;

    /// Registers the stored shortcut value (0: none); false when it cannot
    /// be had (no X display, a key without a keycode, held by another
    /// program).
    bool Register(std::int32_t shortcut);
    bool Registered() const;
    /// True when global hot keys can work on this desktop at all.
    static bool Available();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Pressed();

private:
    std::unique_ptr<platform::GlobalHotKey> m_key;
    std::int32_t m_shortcut = 0;
};

}  // namespace quorvel::gui
