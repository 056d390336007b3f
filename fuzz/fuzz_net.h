// The fuzz connection: what osNetReceive hands out next, and what was sent.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

void fuzzSetReplies(const unsigned char* data, size_t size);
// The replies of the second connection made after fuzzSetReplies. With `answered`,
// only the bytes it counts for what was sent so far have come in (a server that
// answers only what it was asked); the rest are there once read.
void fuzzSetNextReplies(const unsigned char* data, size_t size,
                        size_t (*answered)(const std::string& sent));
// Everything sent on the current connection, in order.
const std::string& fuzzSentBytes();
