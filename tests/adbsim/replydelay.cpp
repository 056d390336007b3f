// adbsim's --delay-ms: every reply byte reaches the client N ms after the server
// wrote it, like a link with that latency. A writer thread per connection sends the
// queued bytes when they are due, so requests are still read at once and a client
// that sends ahead gets its replies N ms later, not N ms one after the other.
#include <poll.h>
#include <sys/socket.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "adbsim.h"

namespace adbsim {

namespace {
constexpr std::size_t kMaxQueuedBytes = 8u << 20;  // the server waits beyond this
constexpr int kWriterPollMs = 100;  // how often a blocked writer looks at the stop flag
}  // namespace

using Clock = std::chrono::steady_clock;

struct ReplyDelay {
    int fd;
    std::chrono::milliseconds delay;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    std::size_t queuedBytes = 0;
    bool closing = false;  // no more bytes come; send what is queued, then end
    std::string failure;   // set by the writer when the client cannot be written
    std::thread writer;
};

namespace {

// Sends one piece; false when the client is gone or a stop is requested.
bool sendPiece(ReplyDelay& line, const std::string& bytes, std::string& failure) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (stopRequested) {
            failure = "stopping";
            return false;
        }
        pollfd p{line.fd, POLLOUT, 0};
        if (poll(&p, 1, kWriterPollMs) <= 0) continue;
        ssize_t n =
            send(line.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0) {
            failure = std::string("send: ") + std::strerror(errno);
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

void runWriter(ReplyDelay* line) {
    std::unique_lock<std::mutex> held(line->lock);
    for (;;) {
        line->changed.wait(held, [&] { return !line->queue.empty() || line->closing; });
        if (line->queue.empty()) return;  // closing, all sent
        auto due = line->queue.front().first;
        if (Clock::now() < due) {
            line->changed.wait_until(held, due);
            continue;
        }
        std::string bytes = std::move(line->queue.front().second);
        line->queue.pop_front();
        held.unlock();
        std::string failure;
        bool sent = sendPiece(*line, bytes, failure);
        held.lock();
        line->queuedBytes -= bytes.size();
        if (!sent) {
            line->failure = failure;
            line->queue.clear();
            line->queuedBytes = 0;
        }
        line->changed.notify_all();
        if (!sent) return;
    }
}

}  // namespace

void startReplyDelay(Session& session) {
    unsigned ms = session.config->delayMs;
    if (ms == 0) return;
    session.delay = std::make_shared<ReplyDelay>();
    session.delay->fd = session.fd;
    session.delay->delay = std::chrono::milliseconds(ms);
    session.delay->writer = std::thread(runWriter, session.delay.get());
}

void queueDelayedReply(Session& session, const unsigned char* data, std::size_t length) {
    ReplyDelay& line = *session.delay;
    std::unique_lock<std::mutex> held(line.lock);
    line.changed.wait(held,
                      [&] { return line.queuedBytes < kMaxQueuedBytes || !line.failure.empty(); });
    if (!line.failure.empty()) throw SessionEnd{line.failure};
    line.queue.emplace_back(Clock::now() + line.delay,
                            std::string(reinterpret_cast<const char*>(data), length));
    line.queuedBytes += length;
    line.changed.notify_all();
}

void finishReplyDelay(Session& session) {
    if (!session.delay) return;
    {
        std::lock_guard<std::mutex> held(session.delay->lock);
        session.delay->closing = true;
        session.delay->changed.notify_all();
    }
    session.delay->writer.join();  // every reply went out (or the client is gone)
    session.delay.reset();
}

}  // namespace adbsim
