#include "gui/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include "core/activity_log.h"
#include "platform/paths.h"

namespace quorvel::gui {

namespace {

constexpr int kConnectWait = 1000;  // ms for a running instance to answer

// Only a process of this very user may give or take orders.
bool SameUser(const QLocalSocket& socket) {
    const auto peer = platform::SocketPeerUserId(static_cast<long long>(socket.socketDescriptor()));
    return peer && *peer == platform::CurrentUserId();
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (m_server != nullptr) {
        m_server->close();
    }
}

QString SingleInstance::SocketPath() {
    const auto directory = platform::PrivateRuntimeDirectory();
    if (!directory) {
        return {};
    }
    return QString::fromStdString(*directory) + "/QUORVEL.MUTEX-" +
           QString::number(platform::CurrentUserId());
}

bool SingleInstance::Holding() const {
    return m_server != nullptr && m_server->isListening();
}

SingleInstance::Outcome SingleInstance::Claim() {
    if (Holding()) {
        return Outcome::Holding;
    }
    // In a directory nobody else can enter, so no other user can listen
    // there first and answer in our place.
    std::string why;
    if (!platform::PrivateRuntimeDirectory(&why)) {
        ActivityLog::Report(LogLevel::Warning,
                            "No single instance: " + why + "; this start runs on its own");
        return Outcome::Unavailable;
    }
    const QString path = SocketPath();
    // Two starts at the same moment take turns here.
    QLockFile lock(path + ".lock");
    lock.setStaleLockTime(10000);
    lock.tryLock(5000);

    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(kConnectWait) && SameUser(probe)) {
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
            if (!SameUser(*client)) {
                client->abort();
                client->deleteLater();
                continue;
            }
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
