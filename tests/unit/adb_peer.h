// A scripted ADB server peer for the client's unit tests: listens on 127.0.0.1:5037,
// accepts one connection and runs a script (read, write, pause, close) in a thread.
// Only used inside a private network namespace (TANDRIX_PRIVATE_NET=1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

struct PeerLink {
    intptr_t socket;  // the accepted connection
};

struct TestPeer {
    intptr_t listener;
    std::thread thread;
};

// True when this process may use port 5037 (it runs in its own network namespace).
bool peerNetworkAvailable();
// Listens now (so a connect that follows finds it) and serves one connection with
// `script` in a thread; the connection is closed when the script returns.
bool peerStart(TestPeer* peer, std::function<void(PeerLink*)> script);
// Waits for the script to end and closes the listener.
void peerFinish(TestPeer* peer);

// Reads exactly `count` bytes, or fewer when the client closes or 20 s pass.
std::string peerRead(PeerLink* link, size_t count);
void peerWrite(PeerLink* link, const std::string& bytes);
void peerPause(uint32_t milliseconds);
// Closes the listener only: later connects are refused.
void peerCloseListener(TestPeer* peer);
