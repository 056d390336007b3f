// Win32 network back end: an overlapped Winsock socket bound to a connect event;
// each read is one overlapped I/O on the I/O event, each write a send() loop; every
// wait is bounded.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/platform.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr intptr_t kNoSocket = 0;  // not created yet

static_assert(sizeof(OVERLAPPED) <= sizeof(OsNetState::ioRecord), "OVERLAPPED must fit");

SOCKET socketOf(const OsNetState* net) {
    return static_cast<SOCKET>(net->socketHandle);
}

bool isOpen(const OsNetState* net) {
    return net->socketHandle != kNoSocket && socketOf(net) != INVALID_SOCKET;
}

OVERLAPPED* overlappedOf(OsNetState* net) {
    return reinterpret_cast<OVERLAPPED*>(net->ioRecord);
}

// Completes an I/O that the call reported as not done at once: it must be pending,
// finish within the limit and succeed. Returns the byte count, or -1.
int64_t finishPending(OsNetState* net, uint32_t timeoutMs) {
    if (GetLastError() != ERROR_IO_PENDING) return -1;
    OVERLAPPED* overlapped = overlappedOf(net);
    DWORD done = 0;
    DWORD flags = 0;
    if (WaitForSingleObject(overlapped->hEvent, timeoutMs) != WAIT_OBJECT_0) {
        // The read still points at the caller's buffer: cancel it and wait until it has
        // ended, so no late completion writes into memory the caller has moved on from.
        // A read that completed before the cancel reached it keeps its bytes (or its
        // close): dropping them would lose part of the stream.
        CancelIoEx(reinterpret_cast<HANDLE>(socketOf(net)), overlapped);
        if (WSAGetOverlappedResult(socketOf(net), overlapped, &done, TRUE, &flags)) return done;
        return -1;
    }
    if (!WSAGetOverlappedResult(socketOf(net), overlapped, &done, FALSE, &flags)) return -1;
    return done;
}

}  // namespace

bool osNetConnect(OsNetState* net, uint16_t port, uint32_t timeoutMs) {
    WSADATA data;
    WSAStartup(kWinsockVersion, &data);  // its result is ignored: WSASocketA reports a failure

    net->connectEvent = reinterpret_cast<intptr_t>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED* overlapped = overlappedOf(net);
    ZeroMemory(overlapped, sizeof *overlapped);
    overlapped->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    net->ioEvent = reinterpret_cast<intptr_t>(overlapped->hEvent);

    sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    SOCKET s = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    net->socketHandle = static_cast<intptr_t>(s);
    if (s == INVALID_SOCKET) return false;

    HANDLE connectEvent = reinterpret_cast<HANDLE>(net->connectEvent);
    WSAEventSelect(s, connectEvent, FD_READ | FD_CONNECT | FD_CLOSE);  // also non-blocking

    DWORD one = 1;
    DWORD limit = timeoutMs;
    if (setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one) ==
        SOCKET_ERROR)
        return false;
    if (setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                   sizeof limit) == SOCKET_ERROR)
        return false;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                   sizeof limit) == SOCKET_ERROR)
        return false;

    connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);  // completes later
    if (WaitForSingleObject(connectEvent, timeoutMs) != WAIT_OBJECT_0) return false;
    WSANETWORKEVENTS events;
    ZeroMemory(&events, sizeof events);
    if (WSAEnumNetworkEvents(s, connectEvent, &events) == SOCKET_ERROR) return false;
    return (events.lNetworkEvents & FD_CONNECT) != 0 && events.iErrorCode[FD_CONNECT_BIT] == 0;
}

bool osNetSendAll(OsNetState* net, const void* data, size_t count, uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_SEND) || !isOpen(net)) return false;
    // send() on the non-blocking socket, waiting for room with select(): an overlapped
    // WriteFile can stay pending for good under Wine once the send buffer has filled.
    SOCKET s = socketOf(net);
    const char* next = static_cast<const char*>(data);
    size_t left = count;
    while (left > 0) {
        int chunk = left > 0x40000000 ? 0x40000000 : static_cast<int>(left);
        int sent = send(s, next, chunk, 0);
        if (sent > 0) {
            next += sent;
            left -= static_cast<size_t>(sent);
            continue;
        }
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval limit{static_cast<long>(timeoutMs / 1000),
                      static_cast<long>(timeoutMs % 1000) * 1000};
        if (select(0, nullptr, &writable, nullptr, &limit) != 1) return false;
    }
    return true;
}

int64_t osNetSendUntilReadable(OsNetState* net, const void* data, size_t count,
                               uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_SEND) || !isOpen(net)) return -1;
    // The same select()-bounded send() loop as osNetSendAll, with the socket in the
    // read set too: bytes to read (or a close) end the wait.
    SOCKET s = socketOf(net);
    const char* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    while (sent < count) {
        size_t left = count - sent;
        int chunk = left > 0x40000000 ? 0x40000000 : static_cast<int>(left);
        int n = send(s, bytes + sent, chunk, 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        fd_set writable;
        fd_set readable;
        FD_ZERO(&writable);
        FD_ZERO(&readable);
        FD_SET(s, &writable);
        FD_SET(s, &readable);
        timeval limit{static_cast<long>(timeoutMs / 1000),
                      static_cast<long>(timeoutMs % 1000) * 1000};
        if (select(0, &readable, &writable, nullptr, &limit) < 1) return -1;
        if (!FD_ISSET(s, &writable)) return static_cast<int64_t>(sent);
    }
    return static_cast<int64_t>(sent);
}

int64_t osNetReceive(OsNetState* net, void* buffer, size_t count, uint32_t timeoutMs) {
    if (osShouldFail(OS_NET_RECEIVE) || !isOpen(net)) return -1;
    DWORD got = 0;
    HANDLE file = reinterpret_cast<HANDLE>(net->socketHandle);
    if (!ReadFile(file, buffer, static_cast<DWORD>(count), &got, overlappedOf(net)))
        return finishPending(net, timeoutMs);
    return got;
}

uint32_t osNetAvailable(OsNetState* net) {
    if (!isOpen(net)) return 0;
    u_long pending = 0;
    ioctlsocket(socketOf(net), FIONREAD, &pending);  // its result is ignored: 0 stays
    return static_cast<uint32_t>(pending);
}

void osNetClose(OsNetState* net) {
    if (isOpen(net)) closesocket(socketOf(net));
    net->socketHandle = kNoSocket;
    if (net->connectEvent != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(net->connectEvent));
        net->connectEvent = 0;
    }
    OVERLAPPED* overlapped = overlappedOf(net);
    if (overlapped->hEvent != nullptr) {
        CloseHandle(overlapped->hEvent);
        overlapped->hEvent = nullptr;
    }
    net->ioEvent = 0;
}
