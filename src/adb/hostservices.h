// ADB host-service requests: framing with a four-digit hexadecimal length, the
// OKAY/FAIL status, and the choice of transport.
// Raise: sendHostRequest and sendTransportRequest (ERR_ADB_SEND), readHostStatus
// (below), selectTransport (both of those). The parsing and sanitising helpers never
// raise.
#pragma once

#include <cstddef>
#include <cstdint>

struct AdbConnection;

constexpr uint32_t kStatusBytes = 4;           // "OKAY" or "FAIL"
constexpr uint32_t kRequestBytes = 1024;       // a framed request
constexpr uint32_t kTransportNameBytes = 272;  // "host:transport:" and a 255-byte serial

void sendHostRequest(AdbConnection* conn, const char* name);
// Returns on OKAY; raises ERR_ADB_ERROR with the (sanitised) FAIL text, at most 1023
// bytes of it, and ERR_ADB_UNKNOWN_RESPONSE on any other status or bad length digits.
void readHostStatus(AdbConnection* conn);
int hexDigitValue(int c);
bool parseHex4(const char* text, uint32_t* value);
// The transport request for conn's device (-e, -d or any), without its status.
void sendTransportRequest(AdbConnection* conn);
void selectTransport(AdbConnection* conn);
// On a fresh connection of its own: asks, with the request that matches the transport
// selectTransport will choose, for the device's feature list and sets
// conn->features. A FAIL (no such device, or a server that does not know the request)
// leaves 0: the transport request that follows reports a missing device as always.
// Raises like readHostStatus on anything but OKAY or FAIL and on a bad length.
void queryFeatures(AdbConnection* conn);
// The kFeature* bits named in a comma-separated feature list of `length` bytes.
uint32_t parseFeatureList(const char* list, uint32_t length);
// Server text on its way to the console: control characters other than tab (C0,
// DEL, and C1 written in UTF-8, embedded NUL included) become '?'. The counted form
// terminates the result and returns its length.
size_t sanitiseServerBytes(char* text, size_t length);
void sanitiseServerText(char* text);
