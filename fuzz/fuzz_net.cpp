// The network back end of the fuzz builds: a connection whose received bytes are a
// buffer the target sets, and whose sends are kept for the target to look at.
#include "fuzz_net.h"

#include <cstdint>
#include <cstring>

namespace {

const unsigned char* replyData = nullptr;
size_t replyLeft = 0;
bool requestSent = false;                 // the reply counts as pending only after a request
const unsigned char* nextData = nullptr;  // the second connection's replies
size_t nextSize = 0;
uint32_t connects = 0;                                       // since the replies were set
size_t replySize = 0;                                        // of the replies in use
size_t (*answeredBytes)(const std::string& sent) = nullptr;  // of the second connection
std::string sent;
size_t countedFor = SIZE_MAX;  // the sent size `answered` was counted for
size_t answered = 0;

}  // namespace

void fuzzSetReplies(const unsigned char* data, size_t size) {
    replyData = data;
    replyLeft = size;
    replySize = size;
    requestSent = false;
    sent.clear();
    connects = 0;
    countedFor = SIZE_MAX;
}

void fuzzSetNextReplies(const unsigned char* data, size_t size,
                        size_t (*answered)(const std::string& sent)) {
    nextData = data;
    nextSize = size;
    answeredBytes = answered;
}

const std::string& fuzzSentBytes() {
    return sent;
}

bool osNetConnect(OsNetState* net, uint16_t, uint32_t) {
    net->socketHandle = 1;
    if (++connects == 2 && nextData != nullptr) {
        fuzzSetReplies(nextData, nextSize);
        nextData = nullptr;
        connects = 2;
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

namespace {

// What may be read: all that is left, or on the second connection with an `answered`
// function, the part of it that answers the requests sent so far (counted again only
// when more was sent).
size_t answerable() {
    if (connects != 2 || answeredBytes == nullptr) return replyLeft;
    if (sent.size() != countedFor) {
        countedFor = sent.size();
        answered = answeredBytes(sent);
    }
    size_t taken = replySize - replyLeft;
    return answered > taken ? answered - taken : 0;
}

}  // namespace

// Short reads on purpose (at most 7 bytes), so the callers' loops are exercised;
// 0 (peer closed, or a server that never answers: the wait times out) once nothing
// more may be read.
int64_t osNetReceive(OsNetState*, void* buffer, size_t count, uint32_t) {
    size_t n = count < answerable() ? count : answerable();
    if (n > 7) n = 7;
    std::memcpy(buffer, replyData, n);
    replyData += n;
    replyLeft -= n;
    return static_cast<int64_t>(n);
}

// A reply counts as come in only after a request.
uint32_t osNetAvailable(OsNetState*) {
    return requestSent ? static_cast<uint32_t>(answerable()) : 0;
}

void osNetClose(OsNetState* net) {
    net->socketHandle = 0;
}
