// The fuzz connection: what osNetReceive hands out next.
#pragma once

#include <cstddef>

#include "platform/platform.h"

void fuzzSetReplies(const unsigned char* data, size_t size);
