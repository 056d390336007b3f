// adbsim's socket I/O: exact reads that give up when the peer leaves or a stop is
// requested, and writes that carry out the reply faults (close-after, trickle, id).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "adbsim.h"

namespace adbsim {

volatile int stopRequested = 0;

namespace {
constexpr int kPollSliceMs = 100;  // how often waits look at the stop flag

// Waits until fd is readable; throws when a stop is requested or the idle limit passes.
void waitReadable(Session& session) {
    uint64_t waited = 0;
    for (;;) {
        if (stopRequested) throw SessionEnd{"stopping"};
        pollfd p{session.fd, POLLIN, 0};
        int n = poll(&p, 1, kPollSliceMs);
        if (n > 0) return;
        if (n < 0 && errno != EINTR) throw SessionEnd{std::string("poll: ") + std::strerror(errno)};
        waited += kPollSliceMs;
        unsigned limit = session.config->idleTimeout;
        if (limit && waited >= uint64_t(limit) * 1000) throw SessionEnd{"idle time-out"};
    }
}

void writeAll(Session& session, const unsigned char* data, std::size_t length) {
    if (session.delay) {
        queueDelayedReply(session, data, length);
        return;
    }
    while (length > 0) {
        ssize_t n = send(session.fd, data, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SessionEnd{std::string("send: ") + std::strerror(errno)};
        }
        data += n;
        length -= std::size_t(n);
    }
}
}  // namespace

void receiveExact(Session& session, void* data, std::size_t length) {
    auto* out = static_cast<unsigned char*>(data);
    while (length > 0) {
        waitReadable(session);
        ssize_t n = recv(session.fd, out, length, 0);
        if (n == 0) throw SessionEnd{"peer closed the connection"};
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SessionEnd{std::string("recv: ") + std::strerror(errno)};
        }
        out += n;
        length -= std::size_t(n);
    }
}

void sendBytes(Session& session, const void* data, std::size_t length) {
    auto* bytes = static_cast<const unsigned char*>(data);
    if (session.bytesSent >= session.closeAt) throw SessionEnd{"fault: close-after"};
    bool cut = false;
    if (length > session.closeAt - session.bytesSent) {
        length = std::size_t(session.closeAt - session.bytesSent);
        cut = true;
    }
    unsigned trickle = session.stepTrickleMs ? session.stepTrickleMs : session.trickleMs;
    if (trickle == 0) {
        writeAll(session, bytes, length);
    } else {
        for (std::size_t i = 0; i < length; i++) {
            if (i > 0 || session.bytesSent > 0) pauseFor(session, trickle, false);
            writeAll(session, bytes + i, 1);
        }
    }
    session.bytesSent += length;
    if (cut || session.bytesSent >= session.closeAt) throw SessionEnd{"fault: close-after"};
}

void sendRecord(Session& session, std::string record) {
    if (!session.nextId.empty() && record.size() >= kIdSize) {
        record.replace(0, kIdSize, session.nextId);
        session.nextId.clear();
    }
    sendBytes(session, record.data(), record.size());
}

void sendSyncFail(Session& session, const std::string& text) {
    sendRecord(session, "FAIL" + le32(uint32_t(text.size())) + text);
}

// Sleeps, but ends the connection when the peer leaves or a stop is requested, so
// a stalled reply never keeps the server from the next connection.
void pauseFor(Session& session, uint64_t milliseconds, bool forever) {
    uint64_t slept = 0;
    while (forever || slept < milliseconds) {
        if (stopRequested) throw SessionEnd{"stopping"};
        char probe;
        ssize_t n = recv(session.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) throw SessionEnd{"peer closed the connection"};
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            throw SessionEnd{std::string("recv: ") + std::strerror(errno)};
        uint64_t slice =
            forever ? kPollSliceMs : std::min<uint64_t>(kPollSliceMs, milliseconds - slept);
        usleep(useconds_t(slice * 1000));
        slept += slice;
    }
}

std::string le32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; i++) out[i] = char((value >> (8 * i)) & 0xff);
    return out;
}

uint32_t readLe32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

}  // namespace adbsim
