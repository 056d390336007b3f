// The scripted ADB server peer of the client's unit tests. It is test scaffolding
// with its own small socket code for each system (BSD sockets or Winsock), so that
// the same tests run natively and under Wine; it shares nothing with src/adb.
#include "adb_peer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using PeerSocket = SOCKET;
constexpr PeerSocket kNoPeerSocket = INVALID_SOCKET;
static void closePeerSocket(PeerSocket s) {
    closesocket(s);
}
static void startSockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}
constexpr int kPeerSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
using PeerSocket = int;
constexpr PeerSocket kNoPeerSocket = -1;
static void closePeerSocket(PeerSocket s) {
    close(s);
}
static void startSockets() {}
constexpr int kPeerSendFlags = MSG_NOSIGNAL;  // a client that went away must not kill the test
#endif

namespace {

constexpr uint16_t kPeerPort = 5037;
constexpr int kPeerReadLimitMs = 20000;  // longer than the client's own 15000 ms

PeerSocket asSocket(intptr_t handle) {
    return static_cast<PeerSocket>(handle);
}

void setReadLimit(PeerSocket s) {
#ifdef _WIN32
    DWORD limit = kPeerReadLimitMs;
#else
    timeval limit{kPeerReadLimitMs / 1000, 0};
#endif
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

}  // namespace

bool peerNetworkAvailable() {
    const char* flag = std::getenv("TANDRIX_PRIVATE_NET");
    return flag != nullptr && std::strcmp(flag, "1") == 0;
}

bool peerStart(TestPeer* peer, std::function<void(PeerLink*)> script) {
    startSockets();
    PeerSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoPeerSocket) return false;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPeerPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(s, 1) != 0) {
        closePeerSocket(s);
        return false;
    }
    peer->listener = static_cast<intptr_t>(s);
    peer->thread = std::thread([s, script]() {
        PeerSocket client = accept(s, nullptr, nullptr);
        if (client == kNoPeerSocket) return;
        setReadLimit(client);
        PeerLink link{static_cast<intptr_t>(client)};
        script(&link);
        closePeerSocket(client);
    });
    return true;
}

void peerCloseListener(TestPeer* peer) {
    if (peer->listener != static_cast<intptr_t>(kNoPeerSocket)) {
        closePeerSocket(asSocket(peer->listener));
        peer->listener = static_cast<intptr_t>(kNoPeerSocket);
    }
}

void peerFinish(TestPeer* peer) {
    if (peer->thread.joinable()) peer->thread.join();
    peerCloseListener(peer);
}

std::string peerRead(PeerLink* link, size_t count) {
    std::string bytes(count, '\0');
    size_t have = 0;
    while (have < count) {
        int got = recv(asSocket(link->socket), &bytes[have], static_cast<int>(count - have), 0);
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    bytes.resize(have);
    return bytes;
}

void peerWrite(PeerLink* link, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        int sent = send(asSocket(link->socket), bytes.data() + done,
                        static_cast<int>(bytes.size() - done), kPeerSendFlags);
        if (sent <= 0) return;
        done += static_cast<size_t>(sent);
    }
}

void peerPause(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
