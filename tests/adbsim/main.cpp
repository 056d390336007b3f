// adbsim's entry: listens on the loopback address and serves one connection after
// another (those in sync mode side by side) until SIGTERM or SIGINT (or, with --once,
// until the first one ends).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "adbsim.h"

using namespace adbsim;

namespace {

constexpr int kListenBacklog = 16;
constexpr int kAcceptPollMs = 200;  // how often the accept loop looks at the stop flag

void onStopSignal(int) {
    stopRequested = 1;
}

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

namespace adbsim {

int listenOn(unsigned& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, kListenBacklog) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Written whole under another name first, so a test that waits for the file never
// reads it half written.
bool writeReadyFile(const std::string& file, unsigned port) {
    std::string temp = file + ".tmp";
    FILE* out = std::fopen(temp.c_str(), "w");
    if (!out) return false;
    std::fprintf(out, "%u\n", port);
    bool ok = std::fclose(out) == 0;
    return ok && std::rename(temp.c_str(), file.c_str()) == 0;
}

}  // namespace adbsim

int main(int argc, char** argv) {
    if (isDaemonCommandLine(argc, argv)) {
        installSignals();
        return runDaemon(argc, argv);
    }
    Config config = parseCommandLine(argc, argv);
    installSignals();
    if (!config.logFile.empty()) openRequestLog(config.logFile);
    bool printPort = config.port == 0;
    int listener = listenOn(config.port);
    if (listener < 0) {
        note("cannot listen on 127.0.0.1:" + std::to_string(config.port) + ": " +
             std::strerror(errno));
        return 2;
    }
    if (printPort) {
        std::printf("%u\n", config.port);
        std::fflush(stdout);
    }
    if (!config.readyFile.empty() && !writeReadyFile(config.readyFile, config.port)) {
        note("cannot write " + config.readyFile + ": " + std::strerror(errno));
        return 2;
    }
    std::vector<std::thread> syncThreads;
    while (!stopRequested) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, kAcceptPollMs) <= 0) continue;
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // statuses go out at once
        serveConnection(config, fd, config.once ? nullptr : &syncThreads);
        if (config.once) break;
    }
    close(listener);
    for (std::thread& thread : syncThreads) thread.join();  // each ends at the stop request
    return 0;
}
