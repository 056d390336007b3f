// POSIX network back end: the one TCP connection to 127.0.0.1, non-blocking, with
// every wait (connect, each partial send, each partial receive) bounded by poll.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "platform/platform.h"

namespace {

constexpr intptr_t kNoSocket = 0;    // not created yet
constexpr intptr_t kBadSocket = -1;  // creation failed
constexpr int kLowestSocketFd = 3;   // keep clear of 0, which means "not created"

// Waits until the socket is ready for `events`; false on time-out or failure.
bool waitReady(int fd, short events, uint32_t timeoutMs) {
    pollfd entry{fd, events, 0};
    for (;;) {
        int ready = poll(&entry, 1, static_cast<int>(timeoutMs));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool isOpen(const OsNetState* net) {
    return net->socketHandle != kNoSocket && net->socketHandle != kBadSocket;
}

}  // namespace

bool osNetConnect(OsNetState* net, uint16_t port, uint32_t timeoutMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd >= 0 && fd < kLowestSocketFd) {
        // A closed standard handle gave us descriptor 0..2; move it up.
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, kLowestSocketFd);
        close(fd);
        fd = moved;
    }
    if (fd < 0) {
        net->socketHandle = kBadSocket;
        return false;
    }
    net->socketHandle = fd;

    int one = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) return false;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (!waitReady(fd, POLLOUT, timeoutMs)) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
}

bool osNetSendAll(OsNetState* net, const void* data, size_t count, uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_SEND) || !isOpen(net)) return false;
    int fd = static_cast<int>(net->socketHandle);
    const char* next = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t sent = send(fd, next, count, MSG_NOSIGNAL);
        if (sent > 0) {
            next += sent;
            count -= static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitReady(fd, POLLOUT, timeoutMs)) return false;
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

int64_t osNetSendUntilReadable(OsNetState* net, const void* data, size_t count,
                               uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_SEND) || !isOpen(net)) return -1;
    int fd = static_cast<int>(net->socketHandle);
    const char* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    while (sent < count) {
        ssize_t n = send(fd, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return -1;
        // No room: wait for room or for a reply, whichever comes first.
        pollfd entry{fd, POLLIN | POLLOUT, 0};
        int ready = poll(&entry, 1, static_cast<int>(timeoutMs));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return -1;
        if ((entry.revents & POLLOUT) == 0)
            return static_cast<int64_t>(sent);  // readable, closed or failed
    }
    return static_cast<int64_t>(sent);
}

int64_t osNetReceive(OsNetState* net, void* buffer, size_t count, uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_RECEIVE) || !isOpen(net)) return -1;
    int fd = static_cast<int>(net->socketHandle);
    for (;;) {
        ssize_t got = recv(fd, buffer, count, 0);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!waitReady(fd, POLLIN, timeoutMs)) return -1;
    }
}

uint32_t osNetAvailable(OsNetState* net) {
    if (!isOpen(net)) return 0;
    int pending = 0;
    if (ioctl(static_cast<int>(net->socketHandle), FIONREAD, &pending) != 0 || pending < 0)
        return 0;
    return static_cast<uint32_t>(pending);
}

void osNetClose(OsNetState* net) {
    if (isOpen(net)) close(static_cast<int>(net->socketHandle));
    net->socketHandle = kNoSocket;
}
