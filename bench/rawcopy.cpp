// Benchmark baseline: copies N bytes over one loopback TCP connection in 64 KiB
// writes (the tool's record size) and prints the throughput, the ceiling that the
// transfer figures are compared with.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr size_t kChunkBytes = 65536 + 8;  // one DATA record with its header

void drain(int listener, unsigned long long total) {
    int peer = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(kChunkBytes);
    unsigned long long got = 0;
    while (got < total) {
        ssize_t n = read(peer, buffer.data(), buffer.size());
        if (n <= 0) break;
        got += static_cast<unsigned long long>(n);
    }
    char ack = 1;
    if (write(peer, &ack, 1) != 1) std::perror("write");
    close(peer);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_rawcopy BYTES\n");
        return 2;
    }
    unsigned long long total = std::strtoull(argv[1], nullptr, 10);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    std::thread receiver(drain, listener, total);
    int sender = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(sender, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        return 1;
    }
    std::vector<char> chunk(kChunkBytes, 'x');
    unsigned long long sent = 0;
    while (sent < total) {
        size_t count = total - sent < kChunkBytes ? total - sent : kChunkBytes;
        ssize_t n = write(sender, chunk.data(), count);
        if (n <= 0) {
            std::perror("write");
            return 1;
        }
        sent += static_cast<unsigned long long>(n);
    }
    char ack = 0;
    if (read(sender, &ack, 1) != 1) std::perror("read");
    receiver.join();
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    std::printf("%.6f\n", wall.count());
    close(sender);
    close(listener);
    return 0;
}
