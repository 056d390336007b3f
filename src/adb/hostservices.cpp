// ADB host-service requests: a service name framed with its length in four
// hexadecimal digits, the OKAY/FAIL status that answers it, and the transport choice.
#include "adb/hostservices.h"

#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "support/encodings.h"
#include "support/errors.h"

namespace {

constexpr uint32_t kLengthDigits = 4;        // "%04X" before a name, after FAIL
constexpr uint32_t kStatusBytes = 4;         // "OKAY" or "FAIL"
constexpr char kTransportLocal[] = "host:transport-local";
constexpr char kTransportSerial[] = "host:transport:";
constexpr char kTransportAny[] = "host:transport-any";

static_assert(kTransportNameBytes >= sizeof kTransportSerial - 1 + kSerialSize,
              "every serial of /d fits the transport name");

}  // namespace

void sendHostRequest(AdbConnection* conn, const char* name) {
    size_t length = std::strlen(name);
    // Names are the program's own; one that does not fit is never sent cut.
    if (length > kRequestBytes - kLengthDigits) raiseError(ERR_ADB_SEND);
    char request[kRequestBytes + 1];   // + the terminator snprintf writes
    std::snprintf(request, sizeof request, "%04X", static_cast<unsigned>(length));
    std::memcpy(request + kLengthDigits, name, length);
    adbSendAll(conn, request, static_cast<uint32_t>(kLengthDigits + length));
}

void readHostStatus(AdbConnection* conn) {
    char status[kStatusBytes];
    adbReceiveAll(conn, status, kStatusBytes);
    if (std::memcmp(status, "OKAY", kStatusBytes) == 0) return;
    if (std::memcmp(status, "FAIL", kStatusBytes) != 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);

    char digits[kLengthDigits];
    uint32_t length = 0;
    adbReceiveAll(conn, digits, kLengthDigits);
    if (!parseHex4(digits, &length)) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // Keep what a raise can carry; the rest of a longer text stays unread, since the
    // run ends with this raise and the connection is closed unread.
    char text[kErrorTextSize];
    if (length >= kErrorTextSize) length = kErrorTextSize - 1;
    adbReceiveAll(conn, text, length);
    sanitiseServerBytes(text, length);
    raiseErrorBytes(ERR_ADB_ERROR, text, length);
}

int hexDigitValue(int c) {
    c &= 0xFF;
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parseHex4(const char* text, uint32_t* value) {
    uint32_t result = 0;
    for (uint32_t i = 0; i < kLengthDigits; ++i) {
        int digit = hexDigitValue(text[i]);
        if (digit < 0) return false;
        result = result * 16 + static_cast<uint32_t>(digit);
    }
    *value = result;
    return true;
}

void selectTransport(AdbConnection* conn) {
    // localOnly wins over a serial; the buffer holds the prefix and any 255-byte serial.
    char name[kTransportNameBytes];
    if (conn->localOnly) {
        std::snprintf(name, sizeof name, "%s", kTransportLocal);
    } else if (conn->serial[0] != 0) {
        std::snprintf(name, sizeof name, "%s%.*s", kTransportSerial,
                      static_cast<int>(kSerialSize - 1), conn->serial);
    } else {
        std::snprintf(name, sizeof name, "%s", kTransportAny);
    }
    sendHostRequest(conn, name);
    readHostStatus(conn);
}

size_t sanitiseServerBytes(char* text, size_t length) {
    return makeDisplaySafeBytes(text, length);
}

void sanitiseServerText(char* text) {
    sanitiseServerBytes(text, std::strlen(text));
}
