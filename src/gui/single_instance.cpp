#include "gui/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include "platform/paths.h"

namespace quorvel::gui {

namespace {

constexpr int kConnectWait = 1000;  // ms for a running instance to answer

QString RuntimeDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) {
        return runtime;
    }
    return QDir::tempPath();
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (m_server != nullptr) {
        m_server->close();
    }
}

QString SingleInstance::SocketPath() {
    return RuntimeDirectory() + "/QUORVEL.MUTEX-" + QString::number(platform::CurrentUserId());
}

bool SingleInstance::Holding() const {
    return m_server != nullptr && m_server->isListening();
}

SingleInstance::Outcome SingleInstance::Claim() {
    if (Holding()) {
        return Outcome::Holding;
    }
    const QString path = SocketPath();
    // Two starts at the same moment take turns here.
    QLockFile lock(path + ".lock");
    lock.setStaleLockTime(10000);
    lock.tryLock(5000);

    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(kConnectWait)) {
        probe.write("restore\n");
        probe.flush();
        probe.waitForBytesWritten(kConnectWait);
        probe.disconnectFromServer();
        return Outcome::OtherRestored;
    }
    // Nobody answers: a socket file left by a killed instance goes first.
    QLocalServer::removeServer(path);
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        delete server;
        return Outcome::Unavailable;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains("restore")) {
                    emit RestoreRequested();
                }
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return Outcome::Holding;
}

}  // namespace quorvel::gui
