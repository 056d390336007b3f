// Test helper: the code of the SyncError a call raised, or 0 when it returned.
#pragma once

#include <cstdint>

#include "support/errors.h"

template <typename Body>
uint32_t raisedCode(Body body) {
    try {
        body();
    } catch (const SyncError& error) {
        return error.code;
    }
    return 0;
}
