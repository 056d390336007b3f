// ADB host-service requests: a service name framed with its length in four
// hexadecimal digits, the OKAY/FAIL status that answers it, and the transport choice.
#include "adb/hostservices.h"

#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "support/encodings.h"
#include "support/errors.h"

namespace {

constexpr uint32_t kLengthDigits = 4;  // "%04X" before a name, after FAIL
constexpr char kTransportLocal[] = "host:transport-local";
constexpr char kTransportSerial[] = "host:transport:";
constexpr char kTransportAny[] = "host:transport-any";
constexpr char kFeaturesLocal[] = "host-local:features";
constexpr char kFeaturesSerial[] = "host-serial:";  // then the serial and ":features"
constexpr char kFeaturesSerialEnd[] = ":features";
constexpr char kFeaturesAny[] = "host:features";
constexpr uint32_t kFeatureListPiece = 256;  // the list is read in pieces of this
constexpr uint32_t kFeatureNameBytes = 280;  // "host-serial:", a 255-byte serial, ":features"
constexpr uint32_t kFeatureWordBytes = 32;   // longest feature name that can matter

// The feature names this program uses, each with its bit.
struct FeatureRow {
    const char* name;
    uint32_t bit;
};
constexpr FeatureRow kFeatureRows[] = {
    {"stat_v2", kFeatureStatV2},  // STA2, LST2
    {"ls_v2", kFeatureListV2},    // LIS2, DNT2
};
static_assert(sizeof kFeatureRows / sizeof kFeatureRows[0] == 2, "one row per feature bit");

static_assert(kTransportNameBytes >= sizeof kTransportSerial - 1 + kSerialSize,
              "every serial of /d fits the transport name");
static_assert(kFeatureNameBytes >=
                  sizeof kFeaturesSerial + sizeof kFeaturesSerialEnd - 2 + kSerialSize,
              "every serial of /d fits the feature request");

// Reads a status: true on OKAY, false on FAIL (its text read, at most 1023 bytes, into
// `text`, terminated and made safe). Raises ERR_ADB_UNKNOWN_RESPONSE otherwise.
bool readStatus(AdbConnection* conn, char* text, uint32_t* textLength) {
    char status[kStatusBytes];
    adbReceiveAll(conn, status, kStatusBytes);
    if (std::memcmp(status, "OKAY", kStatusBytes) == 0) return true;
    if (std::memcmp(status, "FAIL", kStatusBytes) != 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);

    char digits[kLengthDigits];
    uint32_t length = 0;
    adbReceiveAll(conn, digits, kLengthDigits);
    if (!parseHex4(digits, &length)) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // Keep what a raise can carry; the rest of a longer text stays unread, since the
    // connection is closed after a FAIL.
    if (length >= kErrorTextSize) length = kErrorTextSize - 1;
    adbReceiveAll(conn, text, length);
    *textLength = static_cast<uint32_t>(sanitiseServerBytes(text, length));
    return false;
}

// The feature request that matches the transport selectTransport will ask for.
void featureRequestName(const AdbConnection* conn, char* name) {
    if (conn->localOnly) {
        std::snprintf(name, kFeatureNameBytes, "%s", kFeaturesLocal);
    } else if (conn->serial[0] != 0) {
        std::snprintf(name, kFeatureNameBytes, "%s%.*s%s", kFeaturesSerial,
                      static_cast<int>(kSerialSize - 1), conn->serial, kFeaturesSerialEnd);
    } else {
        std::snprintf(name, kFeatureNameBytes, "%s", kFeaturesAny);
    }
}

}  // namespace

void sendHostRequest(AdbConnection* conn, const char* name) {
    size_t length = std::strlen(name);
    // Names are the program's own; one that does not fit is never sent cut.
    if (length > kRequestBytes - kLengthDigits) raiseError(ERR_ADB_SEND);
    char request[kRequestBytes + 1];  // + the terminator snprintf writes
    std::snprintf(request, sizeof request, "%04X", static_cast<unsigned>(length));
    std::memcpy(request + kLengthDigits, name, length);
    adbSendAll(conn, request, static_cast<uint32_t>(kLengthDigits + length));
}

void readHostStatus(AdbConnection* conn) {
    char text[kErrorTextSize];
    uint32_t length = 0;
    if (!readStatus(conn, text, &length)) raiseErrorBytes(ERR_ADB_ERROR, text, length);
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

void sendTransportRequest(AdbConnection* conn) {
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
}

void selectTransport(AdbConnection* conn) {
    sendTransportRequest(conn);
    readHostStatus(conn);
}

void queryFeatures(AdbConnection* conn) {
    conn->features = 0;
    char name[kFeatureNameBytes];
    featureRequestName(conn, name);
    sendHostRequest(conn, name);
    char text[kErrorTextSize];
    uint32_t textLength = 0;
    if (!readStatus(conn, text, &textLength)) return;

    char digits[kLengthDigits];
    uint32_t length = 0;
    adbReceiveAll(conn, digits, kLengthDigits);
    if (!parseHex4(digits, &length)) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // Scanned piece by piece; a name longer than the word buffer is none of ours.
    char piece[kFeatureListPiece];
    char word[kFeatureWordBytes];
    uint32_t wordLength = 0;
    bool tooLong = false;
    while (length > 0) {
        uint32_t count = length < kFeatureListPiece ? length : kFeatureListPiece;
        adbReceiveAll(conn, piece, count);
        length -= count;
        for (uint32_t i = 0; i <= count; ++i) {
            bool end = i == count ? length == 0 : piece[i] == ',';
            if (end) {
                if (!tooLong) conn->features |= parseFeatureList(word, wordLength);
                wordLength = 0;
                tooLong = false;
            } else if (i < count) {
                if (wordLength < kFeatureWordBytes)
                    word[wordLength++] = piece[i];
                else
                    tooLong = true;
            }
        }
    }
}

uint32_t parseFeatureList(const char* list, uint32_t length) {
    uint32_t bits = 0;
    uint32_t start = 0;
    for (uint32_t i = 0; i <= length; ++i) {
        if (i < length && list[i] != ',') continue;
        for (const FeatureRow& row : kFeatureRows) {
            size_t nameLength = std::strlen(row.name);
            if (i - start == nameLength && std::memcmp(list + start, row.name, nameLength) == 0)
                bits |= row.bit;
        }
        start = i + 1;
    }
    return bits;
}

size_t sanitiseServerBytes(char* text, size_t length) {
    return makeDisplaySafeBytes(text, length);
}

void sanitiseServerText(char* text) {
    sanitiseServerBytes(text, std::strlen(text));
}
