// ADB host-service requests: framing with a four-digit hexadecimal length, the
// OKAY/FAIL status, and the choice of transport.
#pragma once

#include <cstdint>

struct AdbConnection;

constexpr uint32_t kRequestBytes = 1024;     // a framed request
constexpr uint32_t kTransportNameBytes = 272; // "host:transport:" and a 255-byte serial

void sendHostRequest(AdbConnection* conn, const char* name);
void readHostStatus(AdbConnection* conn);      // raises on FAIL or an unknown status
int hexDigitValue(int c);
bool parseHex4(const char* text, uint32_t* value);
void selectTransport(AdbConnection* conn);
// Replaces control characters other than tab by '?' (text shown on the console).
void sanitiseServerText(char* text);
