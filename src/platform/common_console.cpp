// The console hook shared by both back ends: one function that sees each console
// write before it goes out (the run's status line erases itself there).
#include "platform/platform.h"

namespace {

OsConsoleHook consoleHook = nullptr;
void* consoleHookData = nullptr;
bool inConsoleHook = false;  // the hook's own writes go straight out

}  // namespace

void osSetConsoleHook(OsConsoleHook hook, void* data) {
    consoleHook = hook;
    consoleHookData = data;
}

void osCallConsoleHook(int stream, const char* text, size_t length) {
    if (consoleHook == nullptr || inConsoleHook) {
        return;
    }
    inConsoleHook = true;
    consoleHook(consoleHookData, stream, text, length);
    inConsoleHook = false;
}
