// The run: root checks, connection, transport and sync mode, comparison, listing,
// the push pass before the pull pass, QUIT and the summary. Returns the exit code.
#include "run/rundriver.h"

#include <cstring>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "adb/reconnect.h"
#include "adb/syncqueries.h"
#include "hostfs/hostfs.h"
#include "run/compare.h"
#include "run/context.h"
#include "run/copypasses.h"
#include "run/copyplan.h"
#include "run/dryrun.h"
#include "run/listing.h"
#include "run/notcopied.h"
#include "run/statusline.h"
#include "support/errors.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

// Exit codes of a run (1 and 2 belong to main).
constexpr int kExitSuccess = 0;
constexpr int kExitNoServer = 4;
constexpr int kExitPushFailed = 9;
constexpr int kExitPullFailed = 10;

constexpr size_t kRunMessageBytes = 64;  // a run message and its line end

// A run message on standard output, ended with the platform's line end.
void writeRunMessage(const char* text) {
    char line[kRunMessageBytes];
    size_t length = std::strlen(text);
    const char* end = osLineEnd();
    std::memcpy(line, text, length);
    std::memcpy(line + length, end, std::strlen(end));
    osWriteStdout(line, length + std::strlen(end));
}

void checkHostRoot(SyncContext* context) {
    char shown[kNarrowPathBytes];
    hostPathNarrow(context->hostRoot, &context->hostTop, shown);
    checkRoot(statHostNode(context->hostRoot, &context->hostTop), &context->hostTop, shown);
}

}  // namespace

int runSync(SyncContext* context) {
    // The host root is checked first, so a mistyped root is reported without a server.
    checkHostRoot(context);
    // The device's features come first, on a connection of their own: once bound to a
    // transport, a connection serves that device only.
    if (!adbConnect(&context->conn)) {
        writeRunMessage("No ADB server");
        return kExitNoServer;
    }
    queryFeatures(&context->conn);
    uint32_t features = context->conn.features;
    adbRelease(&context->conn);
    if (!adbConnect(&context->conn)) {
        writeRunMessage("No ADB server");
        return kExitNoServer;
    }
    context->conn.features = features;
    selectTransport(&context->conn);
    sendHostRequest(&context->conn, "sync:");
    readHostStatus(&context->conn);
    compareRoots(context);
    listResults(context);

    if (context->dryRun != 0) {
        dryRunPasses(context);
    } else {
        CopyTotals totals;
        countCopies(context, &totals);
        statusCopiesBegin(&context->status, totals.pushFiles + totals.pullFiles,
                          totals.pushBytes + totals.pullBytes);
    }
    // Pushes before pulls; a failed copy ends the run without QUIT and without summary.
    if (context->dryRun == 0 &&
        (context->copyFlags & (kCopyUpdateAndroid | kCopyCreateAndroid | kCopyDirsAndroid)) &&
        !pushPass(context)) {
        writeRunMessage("Can't copy to android");
        return kExitPushFailed;
    }
    if (context->dryRun == 0 &&
        (context->copyFlags & (kCopyUpdateHost | kCopyCreateHost | kCopyDirsHost)) &&
        !pullPass(context)) {
        writeRunMessage("Can't copy to host");
        return kExitPullFailed;
    }

    // -k: the files not copied, then QUIT and the summary; a device that did not come
    // back ends the run after the list.
    spareClose(&context->spare);
    printNotCopied(context);
    if (context->goneReason != nullptr) raiseError(context->goneCode);
    syncQuit(&context->conn);
    if (context->listMask & kListSummary) printSummary(context);
    // Files left as they were because they changed while copied: the run went on,
    // but scripts must notice.
    if (context->pushesSkipped != 0) return kExitPushFailed;
    if (context->pullsSkipped != 0) return kExitPullFailed;
    return kExitSuccess;
}
