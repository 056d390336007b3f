// Failure hooks shared by both back ends: tests pick the n-th call of a kind, and the
// back end's wrapper around that call asks osShouldFail before doing the real work.
#include "platform/platform.h"

namespace {

struct FailHook {
    int failAt;  // number of the call that fails; 0 when none is armed
    int calls;   // calls counted since the hook was armed
};

FailHook failHooks[OS_CALL_COUNT];

}  // namespace

void osFailCall(OsCall call, int nth) {
    failHooks[call] = FailHook{nth > 0 ? nth : 0, 0};
}

bool osShouldFail(OsCall call) {
    FailHook& hook = failHooks[call];
    if (hook.failAt == 0) {
        return false;
    }
    if (++hook.calls < hook.failAt) {
        return false;
    }
    // Only the one chosen call fails; later calls succeed again.
    hook = FailHook{0, 0};
    return true;
}
