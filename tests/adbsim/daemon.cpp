// adbsim's device-daemon mode: plays a device's daemon for a real ADB server that
// attached it with "adb connect 127.0.0.1:PORT", serving the sync service from a
// host directory with the same request log and rules as the server mode.
//
// Sections: the command line; transport messages; one link (a TCP connection from
// the server) and its streams; the event loop. Each sync: stream is served by the
// sync service of syncservice.cpp in a thread of its own, joined to the transport by
// a socket pair; the loop moves bytes between the pair and WRTE/OKAY messages, one
// WRTE in flight per stream each way, as the real daemon does.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <thread>

#include "adbsim.h"

namespace adbsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kCommandCnxn = 0x4E584E43;
constexpr uint32_t kCommandOpen = 0x4E45504F;
constexpr uint32_t kCommandOkay = 0x59414B4F;
constexpr uint32_t kCommandWrte = 0x45545257;
constexpr uint32_t kCommandClse = 0x45534C43;
constexpr uint32_t kVersion = 0x01000001;         // checksums are sent as 0 from this version on
constexpr std::size_t kHeaderSize = 24;           // six little-endian 32-bit words
constexpr uint32_t kDefaultMaxPayload = 1 << 20;  // what a daemon of that era announces
constexpr uint32_t kMinMaxPayload = 256;          // smaller leaves no room for a sync request
constexpr std::size_t kReadChunk = 1 << 20;       // bytes per read from the server
constexpr int kLoopPollMs = 100;                  // how often the loop looks at the stop flag
constexpr int kPairBuffer = 1 << 21;              // socket pair buffers: a few records in flight
constexpr char kAccepted = 'Y';                   // first byte a stream worker sends: OPEN accepted
constexpr const char* kDefaultFeatures =
    "shell_v2,cmd,fixed_push_mkdir,apex,abb,fixed_push_symlink_timestamp,abb_exec";

// ---------------------------------------------------------------------------
// The command line
// ---------------------------------------------------------------------------

struct DaemonConfig {
    unsigned port = 0;
    std::string serial;  // middle part of the CNXN banner
    std::string features = kDefaultFeatures;
    uint32_t maxPayload = kDefaultMaxPayload;  // maxdata announced in CNXN
    unsigned delayMs = 0;                      // every message to the server is held this long
    bool vanish = false;                       // a stream ended by a rule drops the whole link
    Config sync;                               // device, rules, log, ready file
};

[[noreturn]] void daemonUsage(const std::string& message) {
    std::fprintf(stderr, "adbsim: %s\n(adbsim --help lists the options)\n", message.c_str());
    std::exit(2);
}

unsigned long daemonNumber(const std::string& option, const std::string& word, unsigned long max) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(word.c_str(), &end, 10);
    if (word.empty() || *end || errno || value > max || word[0] == '-')
        daemonUsage(option + ": bad number " + word);
    return value;
}

// Takes the daemon's own options and hands the rest (rules, log, ready file, sync
// service options) to the server mode's parser, so both read them alike.
DaemonConfig parseDaemonLine(int argc, char** argv) {
    DaemonConfig config;
    std::string dir;
    std::vector<std::string> rest{argv[0]};
    for (int i = 1; i < argc; i++) {
        OptionWord word = splitOption(argv[i]);
        const std::string& option = word.option;
        auto takeValue = [&]() {
            if (word.inlineValue) return word.value;
            if (i + 1 >= argc) daemonUsage(option + " needs a value");
            return std::string(argv[++i]);
        };
        if (option == "--daemon")
            config.port = unsigned(daemonNumber(option, takeValue(), 65535));
        else if (option == "--device")
            dir = takeValue();
        else if (option == "--serial")
            config.serial = takeValue();
        else if (option == "--features")
            config.features = takeValue();
        else if (option == "--max-payload")
            config.maxPayload = uint32_t(daemonNumber(option, takeValue(), 1u << 24));
        else if (option == "--delay-ms")
            config.delayMs = unsigned(daemonNumber(option, takeValue(), 60000));
        else if (option == "--vanish")
            config.vanish = true;
        else if (option == "--rule")
            rest.insert(rest.end(), {"--fault", takeValue()});
        else if (option == "--port" || option == "--once")
            daemonUsage(option + " has no meaning with --daemon");
        else {
            rest.push_back(argv[i]);
            if (word.inlineValue || i + 1 >= argc || option == "--help") continue;
            rest.push_back(argv[++i]);  // every other server-mode option takes a value
        }
    }
    if (dir.empty()) daemonUsage("--daemon needs --device DIR");
    if (config.maxPayload < kMinMaxPayload) daemonUsage("--max-payload is at least 256");
    rest.insert(rest.end(),
                {"--device", (config.serial.empty() ? "device" : config.serial) + "=" + dir});
    std::vector<char*> pointers;
    for (std::string& word : rest) pointers.push_back(word.data());
    config.sync = parseCommandLine(int(pointers.size()), pointers.data());
    // The sync service answers the v2 records only when the banner offers them.
    std::string listed = "," + config.features + ",";
    config.sync.syncV2 = listed.find(",stat_v2,") != std::string::npos ||
                         listed.find(",ls_v2,") != std::string::npos;
    for (const Fault& fault : config.sync.faults) {
        if (fault.step == Step::Transport)
            daemonUsage("fault '" + fault.rule + "': the server answers transport requests itself");
        bool openAction = fault.action == Action::Fail || fault.action == Action::Close ||
                          fault.action == Action::Stall;
        if ((fault.step == Step::Sync || fault.step == Step::Connect) && !openAction)
            daemonUsage("fault '" + fault.rule + "': an OPEN takes only fail, close and stall");
    }
    return config;
}

// ---------------------------------------------------------------------------
// Transport messages
// ---------------------------------------------------------------------------

std::string message(uint32_t command, uint32_t arg0, uint32_t arg1, const std::string& data = "") {
    return le32(command) + le32(arg0) + le32(arg1) + le32(uint32_t(data.size())) + le32(0) +
           le32(command ^ 0xFFFFFFFF) + data;
}

// ---------------------------------------------------------------------------
// Streams and links
// ---------------------------------------------------------------------------

// A thread serving one sync stream; the loop joins it once it has finished.
struct Worker {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> endedByRule{false};  // a close or close-after rule ended it
};

struct Stream {
    uint32_t remoteId = 0;
    int fd = -1;               // the loop's end of the socket pair
    bool open = false;         // the worker accepted the OPEN
    bool waitingOkay = false;  // a WRTE to the server not yet acknowledged
    std::string toService;     // a WRTE from the server not yet handed to the worker
    std::shared_ptr<Worker> worker;
};

struct Outgoing {
    Clock::time_point due;
    std::string bytes;
};

struct Link {
    int fd = -1;
    bool online = false;         // CNXN answered
    uint32_t maxData = 0;        // the smaller maxdata of the two CNXNs
    std::string input;           // bytes from the server not yet a whole message
    std::deque<Outgoing> queue;  // messages held for --delay-ms
    std::string output;          // messages due, being written
    std::size_t outputDone = 0;
    std::map<uint32_t, Stream> streams;  // by our local id
    uint64_t wrteIn = 0;                 // WRTE messages from the server, and the largest
    uint64_t largestIn = 0;
    uint64_t wrteOut = 0;
    uint64_t largestOut = 0;
    bool dead = false;
};

struct Daemon {
    DaemonConfig config;
    std::vector<std::unique_ptr<Link>> links;
    std::vector<std::shared_ptr<Worker>> workers;
    uint32_t nextLocalId = 1;
};

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void queueMessage(Daemon& daemon, Link& link, std::string bytes) {
    link.queue.push_back(
        {Clock::now() + std::chrono::milliseconds(daemon.config.delayMs), std::move(bytes)});
}

// A worker: the same sync service as the server mode, on its end of the pair.
void serveStream(const Config& config, int fd, Worker& worker) {
    Session session;
    session.fd = fd;
    session.config = &config;
    session.device = &config.devices.front();
    logRequest("CONNECT");
    try {
        startSession(session);
        beginStep(session, Step::Connect, "");
        logRequest("sync:");
        if (StepPlan plan = beginStep(session, Step::Sync, "sync:"); plan.fail)
            throw SessionEnd{"OPEN refused: " + *plan.fail};
        if (send(fd, &kAccepted, 1, MSG_NOSIGNAL) != 1)
            throw SessionEnd{"the stream closed at once"};
        serveSync(session);
    } catch (const SessionEnd& end) {
        note("stream ended: " + end.reason);
        if (end.reason.rfind("fault: ", 0) == 0) worker.endedByRule = true;
    }
    close(fd);
    logRequest("CLOSE");
    worker.finished = true;
}

void openStream(Daemon& daemon, Link& link, uint32_t remoteId, const std::string& service) {
    if (service.rfind("sync:", 0) != 0) {
        logRequest("REFUSED " + printable(service));
        queueMessage(daemon, link, message(kCommandClse, 0, remoteId));
        return;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        note(std::string("socketpair: ") + std::strerror(errno));
        queueMessage(daemon, link, message(kCommandClse, 0, remoteId));
        return;
    }
    for (int fd : pair) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
    }
    setNonBlocking(pair[0]);
    Stream stream;
    stream.remoteId = remoteId;
    stream.fd = pair[0];
    stream.worker = std::make_shared<Worker>();
    Worker& worker = *stream.worker;
    worker.thread =
        std::thread(serveStream, std::cref(daemon.config.sync), pair[1], std::ref(worker));
    daemon.workers.push_back(stream.worker);
    link.streams.emplace(daemon.nextLocalId++, std::move(stream));
}

void closeStream(Link& link, std::map<uint32_t, Stream>::iterator it) {
    shutdown(it->second.fd, SHUT_RDWR);  // the worker sees the end at its next read or pause
    close(it->second.fd);
    link.streams.erase(it);
}

void dropLink(Link& link, const std::string& why) {
    if (link.dead) return;
    note("link closed (" + why + "): " + std::to_string(link.wrteIn) +
         " WRTE from the server, largest " + std::to_string(link.largestIn) + " bytes; " +
         std::to_string(link.wrteOut) + " WRTE to it, largest " + std::to_string(link.largestOut) +
         " bytes");
    while (!link.streams.empty()) closeStream(link, link.streams.begin());
    close(link.fd);
    link.dead = true;
}

// Hands the server's bytes to the worker; the WRTE is acknowledged once all went in.
void feedService(Daemon& daemon, Link& link, std::map<uint32_t, Stream>::iterator it) {
    Stream& stream = it->second;
    while (!stream.toService.empty()) {
        ssize_t n = send(stream.fd, stream.toService.data(), stream.toService.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {  // the worker has gone: the stream ends
            queueMessage(daemon, link, message(kCommandClse, it->first, stream.remoteId));
            closeStream(link, it);
            return;
        }
        stream.toService.erase(0, std::size_t(n));
    }
    queueMessage(daemon, link, message(kCommandOkay, it->first, stream.remoteId));
}

// Reads what the worker wrote: its verdict on the OPEN, then the replies, sent as
// WRTE messages of at most maxdata bytes, one unacknowledged at a time.
void drainService(Daemon& daemon, Link& link, std::map<uint32_t, Stream>::iterator it) {
    Stream& stream = it->second;
    static std::string buffer;
    buffer.resize(stream.open ? link.maxData : 1);
    ssize_t n = recv(stream.fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n > 0 && !stream.open) {
        stream.open = true;
        queueMessage(daemon, link, message(kCommandOkay, it->first, stream.remoteId));
        return;
    }
    if (n > 0) {
        link.wrteOut++;
        link.largestOut = std::max<uint64_t>(link.largestOut, uint64_t(n));
        queueMessage(
            daemon, link,
            message(kCommandWrte, it->first, stream.remoteId, buffer.substr(0, std::size_t(n))));
        stream.waitingOkay = true;
        return;
    }
    // A vanish rule drops the link whatever --vanish says.
    if (stream.open && stream.worker->endedByRule && (daemon.config.vanish || devicesVanished())) {
        dropLink(link, "the device vanished after a rule ended its stream");
        return;
    }
    queueMessage(daemon, link, message(kCommandClse, stream.open ? it->first : 0, stream.remoteId));
    closeStream(link, it);
}

void handleMessage(Daemon& daemon, Link& link, uint32_t command, uint32_t arg0, uint32_t arg1,
                   std::string data) {
    if (command == kCommandCnxn) {
        while (!link.streams.empty()) closeStream(link, link.streams.begin());
        link.maxData = std::min({arg1, daemon.config.maxPayload, kDefaultMaxPayload});
        logRequest("CNXN");
        std::string banner =
            "device:" + daemon.config.serial +
            ":ro.product.name=adbsim;ro.product.model=adbsim;ro.product.device=adbsim;features=" +
            daemon.config.features;
        queueMessage(daemon, link,
                     message(kCommandCnxn, kVersion, daemon.config.maxPayload, banner));
        link.online = true;
        return;
    }
    if (!link.online) return;  // messages before CNXN are ignored
    if (command == kCommandOpen) {
        if (!data.empty() && data.back() == '\0') data.pop_back();
        openStream(daemon, link, arg0, data);
        return;
    }
    auto it = link.streams.find(arg1);
    if (it == link.streams.end()) return;  // a stream already ended on our side
    if (command == kCommandOkay) {
        it->second.waitingOkay = false;
    } else if (command == kCommandWrte) {
        link.wrteIn++;
        link.largestIn = std::max<uint64_t>(link.largestIn, data.size());
        it->second.toService += data;
        feedService(daemon, link, it);
    } else if (command == kCommandClse) {
        closeStream(link, it);
    }
}

void readFromServer(Daemon& daemon, Link& link) {
    static std::string chunk(kReadChunk, '\0');
    ssize_t n = recv(link.fd, chunk.data(), chunk.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
        dropLink(link,
                 n == 0 ? "the server closed it" : std::string("recv: ") + std::strerror(errno));
        return;
    }
    link.input.append(chunk.data(), std::size_t(n));
    std::size_t at = 0;
    while (!link.dead && link.input.size() - at >= kHeaderSize) {
        auto* header = reinterpret_cast<const unsigned char*>(link.input.data() + at);
        uint32_t command = readLe32(header);
        uint32_t length = readLe32(header + 12);
        if (readLe32(header + 20) != (command ^ 0xFFFFFFFF) || length > kDefaultMaxPayload) {
            dropLink(link, "a message with a bad header");
            return;
        }
        if (link.input.size() - at < kHeaderSize + length) break;
        handleMessage(daemon, link, command, readLe32(header + 4), readLe32(header + 8),
                      link.input.substr(at + kHeaderSize, length));
        at += kHeaderSize + length;
    }
    link.input.erase(0, at);
}

void writeToServer(Link& link) {
    Clock::time_point now = Clock::now();
    while (!link.queue.empty() && link.queue.front().due <= now) {
        link.output += link.queue.front().bytes;
        link.queue.pop_front();
    }
    while (link.outputDone < link.output.size()) {
        ssize_t n = send(link.fd, link.output.data() + link.outputDone,
                         link.output.size() - link.outputDone, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {
            dropLink(link, std::string("send: ") + std::strerror(errno));
            return;
        }
        link.outputDone += std::size_t(n);
    }
    link.output.clear();
    link.outputDone = 0;
}

// ---------------------------------------------------------------------------
// The event loop
// ---------------------------------------------------------------------------

void reapWorkers(Daemon& daemon, bool all) {
    for (auto it = daemon.workers.begin(); it != daemon.workers.end();) {
        if (all || (*it)->finished) {
            (*it)->thread.join();
            it = daemon.workers.erase(it);
        } else {
            ++it;
        }
    }
}

int pollTimeout(const Daemon& daemon) {
    int timeout = kLoopPollMs;
    Clock::time_point now = Clock::now();
    for (const auto& link : daemon.links) {
        if (link->queue.empty()) continue;
        auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(link->queue.front().due - now).count();
        timeout = std::min<int>(timeout, int(std::max<decltype(wait)>(wait, 0)));
    }
    return timeout;
}

void runLoop(Daemon& daemon, int listener) {
    while (!stopRequested) {
        // What each descriptor is polled for; a stream is left out while it may not
        // be read (a WRTE in flight), so that its end of file does not spin the loop.
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const auto& link : daemon.links) {
            short events = POLLIN;
            if (link->outputDone < link->output.size()) events |= POLLOUT;
            fds.push_back({link->fd, events, 0});
            for (const auto& [id, stream] : link->streams) {
                short streamEvents = 0;
                if (!stream.waitingOkay) streamEvents |= POLLIN;
                if (!stream.toService.empty()) streamEvents |= POLLOUT;
                if (streamEvents) fds.push_back({stream.fd, streamEvents, 0});
            }
        }
        if (poll(fds.data(), fds.size(), pollTimeout(daemon)) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0 && devicesVanished()) {
                close(fd);  // the server's attempts to reattach fail until it is back
            } else if (fd >= 0) {
                int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                setNonBlocking(fd);
                auto link = std::make_unique<Link>();
                link->fd = fd;
                daemon.links.push_back(std::move(link));
            }
        }
        // Every descriptor is non-blocking: trying each costs little and keeps this
        // loop free of bookkeeping from poll slots back to streams.
        for (auto& link : daemon.links) {
            readFromServer(daemon, *link);
            for (auto it = link->streams.begin(); !link->dead && it != link->streams.end();) {
                auto next = std::next(it);
                if (!it->second.toService.empty()) {
                    feedService(daemon, *link, it);
                } else if (!it->second.waitingOkay) {
                    drainService(daemon, *link, it);
                }
                it = next;
            }
            if (!link->dead) writeToServer(*link);
        }
        std::erase_if(daemon.links, [](const std::unique_ptr<Link>& link) { return link->dead; });
        reapWorkers(daemon, false);
    }
}

}  // namespace

bool isDaemonCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::string word = argv[i];
        if (word == "--daemon" || word.rfind("--daemon=", 0) == 0) return true;
    }
    return false;
}

int runDaemon(int argc, char** argv) {
    Daemon daemon;
    daemon.config = parseDaemonLine(argc, argv);
    if (!daemon.config.sync.logFile.empty()) openRequestLog(daemon.config.sync.logFile);
    unsigned port = daemon.config.port;
    int listener = listenOn(port);
    if (listener < 0) {
        note("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
        return 2;
    }
    if (!daemon.config.sync.readyFile.empty() &&
        !writeReadyFile(daemon.config.sync.readyFile, port)) {
        note("cannot write " + daemon.config.sync.readyFile + ": " + std::strerror(errno));
        return 2;
    }
    runLoop(daemon, listener);
    stopRequested = 1;  // workers end at their next wait
    for (auto& link : daemon.links) dropLink(*link, "stopping");
    reapWorkers(daemon, true);
    close(listener);
    return 0;
}

}  // namespace adbsim
