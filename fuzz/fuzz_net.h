// The fuzz connection: what osNetReceive hands out next, and what was sent.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

void fuzzSetReplies(const unsigned char* data, size_t size);
// The replies of the next connection made: the current ones until then.
void fuzzSetNextReplies(const unsigned char* data, size_t size);
// Everything sent on the current connection, in order.
const std::string& fuzzSentBytes();
