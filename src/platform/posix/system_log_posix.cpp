#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/paths.h"
#include "platform/system_log.h"
#include "platform/unique_fd.h"

// The journal's native protocol: one datagram a record, a field a line,
// "NAME=value\n", or "NAME\n", the value's length as 64 bits little-endian,
// the value and "\n" for a value that holds a line break. A record too big
// for a datagram goes in a sealed memory file passed along the socket.

namespace quorvel::platform {

namespace {

void AppendField(std::string& out, const std::string& name, const std::string& value) {
    out += name;
    if (value.find('\n') == std::string::npos) {
        out += '=';
        out += value;
    } else {
        out += '\n';
        std::uint64_t length = value.size();
        for (int i = 0; i < 8; ++i) {
            out += static_cast<char>((length >> (8 * i)) & 0xFF);
        }
        out += value;
    }
    out += '\n';
}

class Journal : public SystemLog {
public:
    Journal(UniqueFd socket, std::string identifier)
        : m_socket(std::move(socket)), m_identifier(std::move(identifier)) {}

    bool Write(Priority priority, const std::string& message,
               const std::vector<Field>& fields) override {
        std::string data;
        AppendField(data, "MESSAGE", message);
        AppendField(data, "PRIORITY", std::to_string(static_cast<int>(priority)));
        AppendField(data, "SYSLOG_IDENTIFIER", m_identifier);
        for (const Field& f : fields) {
            AppendField(data, f.name, f.value);
        }
        std::lock_guard lock(m_mutex);
        if (::send(m_socket.Get(), data.data(), data.size(), MSG_NOSIGNAL) >= 0) {
            return true;
        }
        if (errno != EMSGSIZE && errno != ENOBUFS) {
            return false;
        }
        return SendInMemoryFile(data);
    }

private:
    bool SendInMemoryFile(const std::string& data) {
        UniqueFd memory(::memfd_create("quorvel-journal", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (!memory) {
            return false;
        }
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t n = ::write(memory.Get(), data.data() + done, data.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        ::fcntl(memory.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
        msghdr message{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = memory.Get();
        std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
        return ::sendmsg(m_socket.Get(), &message, MSG_NOSIGNAL) >= 0;
    }

    UniqueFd m_socket;
    std::string m_identifier;
    std::mutex m_mutex;
};

}  // namespace

std::unique_ptr<SystemLog> SystemLog::Open(const std::string& identifier) {
    std::string path = "/run/systemd/journal/socket";
    if (auto other = GetEnvironment("QUORVEL_JOURNAL_SOCKET"); other && !other->empty()) {
        path = *other;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) {
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket || ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address),
                             sizeof(address)) != 0) {
        return nullptr;
    }
    // Records may be large (many files): let the socket take big datagrams.
    const int size = 8 * 1024 * 1024;
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    return std::make_unique<Journal>(std::move(socket), identifier);
}

}  // namespace quorvel::platform
