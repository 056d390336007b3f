// The network back end of the fuzz builds: a connection whose received bytes are a
// buffer the target sets, and whose sends are kept for the target to look at.
#include "fuzz_net.h"

#include <cstring>

namespace {

const unsigned char* replyData = nullptr;
size_t replyLeft = 0;
bool requestSent = false;  // the reply counts as pending only after a request
const unsigned char* nextData = nullptr;  // the next connection's replies
size_t nextSize = 0;
std::string sent;

}  // namespace

void fuzzSetReplies(const unsigned char* data, size_t size) {
    replyData = data;
    replyLeft = size;
    requestSent = false;
    sent.clear();
}

void fuzzSetNextReplies(const unsigned char* data, size_t size) {
    nextData = data;
    nextSize = size;
}

const std::string& fuzzSentBytes() {
    return sent;
}

bool osNetConnect(OsNetState* net, uint16_t, uint32_t) {
    net->socketHandle = 1;
    if (nextData != nullptr) {
        fuzzSetReplies(nextData, nextSize);
        nextData = nullptr;
    }
    return true;
}

bool osNetSendAll(OsNetState*, const void* data, size_t count, uint32_t) {
    requestSent = true;
    sent.append(static_cast<const char*>(data), count);
    return true;
}

// The link always has room: everything goes at once.
int64_t osNetSendUntilReadable(OsNetState*, const void* data, size_t count, uint32_t) {
    requestSent = true;
    sent.append(static_cast<const char*>(data), count);
    return static_cast<int64_t>(count);
}

// Short reads on purpose (at most 7 bytes), so the callers' loops are exercised;
// 0 (peer closed) once the input is used up.
int64_t osNetReceive(OsNetState*, void* buffer, size_t count, uint32_t) {
    size_t n = count < replyLeft ? count : replyLeft;
    if (n > 7) n = 7;
    std::memcpy(buffer, replyData, n);
    replyData += n;
    replyLeft -= n;
    return static_cast<int64_t>(n);
}

uint32_t osNetAvailable(OsNetState*) {
    return requestSent ? static_cast<uint32_t>(replyLeft) : 0;
}

void osNetClose(OsNetState* net) {
    net->socketHandle = 0;
}
