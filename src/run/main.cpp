// Program entry: fills the run's context from the command line, runs the sync, then
// closes the ADB connection and releases the private heap.
#include <new>

#include "adb/connection.h"
#include "adb/reconnect.h"
#include "run/context.h"
#include "run/keepgoing.h"
#include "run/options.h"
#include "run/rundriver.h"
#include "run/statusline.h"
#include "support/errors.h"
#include "support/heap.h"

namespace {

// The one context of the process; static storage, since it is large.
SyncContext context;

void reportFault(const ExceptionInfo* info) {
    reportException(info);
}

}  // namespace

// The SyncError handler covers the run and also the heap reservations that come
// before it (the pattern lists and the run's heap): a failure there is reported from
// the message table like any fatal error and ends the process with exit code 2, after
// the same release as a normal end.
int main(int argc, char** argv) {
    osInitProcess(reportFault);
#ifdef TANDRIX_TEST_WAIT_LIMIT_MS
    adbSetWaitLimit(TANDRIX_TEST_WAIT_LIMIT_MS);  // the test build that waits out limits
    setComebackWait(TANDRIX_TEST_WAIT_LIMIT_MS);  // and for a device that never comes back
#endif
    int code = 0;
    try {
        code = readCommandLine(&context, osCommandSource(argc, argv));
        if (code == kCommandAnswered) {
            code = 0;
        } else if (code == 0) {
            statusBegin(&context.status, context.showProgress != 0);
            code = runSync(&context);
        }
    } catch (const SyncError& error) {
        ExceptionInfo info = syncErrorInfo(error);
        reportException(&info);
        code = 2;
    } catch (const std::bad_alloc&) {
        // A standard container that could not grow: reported as the heap's failure.
        ExceptionInfo info{};
        info.code = ERR_HEAP_COMMIT;
        info.flags = 1;  // non-continuable
        reportException(&info);
        code = 2;
    }
    // The progress line leaves nothing on the screen (a fatal message took it away).
    statusEnd(&context.status);
    adbRelease(&context.conn);
    spareClose(&context.spare);
    heapRelease(&context.heap);
    return code;
}
