#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace quorvel::gui {

/// One running program per user when asked for: a per-user local socket
/// ("QUORVEL.MUTEX" and the user id) in a directory nobody else can enter
/// ($XDG_RUNTIME_DIR, else a private one in the temporary directory). A
/// second start connects, asks the first to restore itself and ends; only
/// when nobody answers does a start listen itself. Both ends talk only to a
/// process of the same user. A socket left behind by a killed instance never
/// keeps a new one from starting.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Outcome { Holding, OtherRestored, Unavailable };

    /// Asks a running instance to restore itself; when none answers, takes
    /// the name. The decision is guarded against two simultaneous starts.
    Outcome Claim();
    /// True while this instance holds the name.
    bool Holding() const;
    /// The socket's full path; empty when no private directory is at hand.
    static QString SocketPath();

signals:
    /// A later start asked this instance to come back to the screen.
    void RestoreRequested();

private:
    QLocalServer* m_server = nullptr;
};

}  // namespace quorvel::gui
