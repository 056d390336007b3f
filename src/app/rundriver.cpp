// The run: root checks, connection, transport and sync mode, comparison, listing,
// the push pass before the pull pass, QUIT and the summary. Returns the exit code.
#include "app/rundriver.h"

#include <cstring>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "adb/syncqueries.h"
#include "adb/transfers.h"
#include "app/context.h"
#include "hostfs/hostfs.h"
#include "support/errors.h"
#include "sync/compare.h"
#include "sync/filetree.h"
#include "sync/listing.h"
#include "sync/status.h"

namespace {

// Exit codes of a run (1 and 2 belong to main).
constexpr int kExitSuccess = 0;
constexpr int kExitNoServer = 4;
constexpr int kExitPushFailed = 9;
constexpr int kExitPullFailed = 10;

constexpr size_t kRunMessageBytes = 64;   // a run message and its line end

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
    FileNode* top = &context->hostTop;
    bool exists = statHostNode(context, top);
    if (exists && (top->mode & kModeTypeMask) == kModeDirectory) return;
    char root[kNarrowPathBytes];
    hostPathNarrow(context, top, root);
    raiseErrorText(exists ? ERR_ROOT_NOT_DIRECTORY : ERR_ROOT_MISSING, root);
}

void checkAndroidRoot(SyncContext* context) {
    FileNode* top = &context->androidTop;
    bool exists = syncStat(context, top);
    if (exists && (top->mode & kModeTypeMask) == kModeDirectory) return;
    char root[kNarrowPathBytes];
    devicePathNarrow(context, top, root);
    raiseErrorText(exists ? ERR_ROOT_NOT_DIRECTORY : ERR_ROOT_MISSING, root);
}

// Sends host files that are new (with 0x02) or newer (with 0x01), in pre-order.
bool pushPass(SyncContext* context) {
    context->printedAny = 0;
    for (FileNode* node = context->hostTop.firstChild; node; node = nextNode(node)) {
        bool wanted = (node->status == HostFileOnly && (context->copyFlags & kCopyCreateAndroid)) ||
                      (node->status == HostFileNewer && (context->copyFlags & kCopyUpdateAndroid));
        if (wanted && !pushFile(context, node)) return false;
    }
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

// Fetches device files that are new (with 0x10) or newer (with 0x08), in pre-order.
bool pullPass(SyncContext* context) {
    context->printedAny = 0;
    for (FileNode* node = context->androidTop.firstChild; node; node = nextNode(node)) {
        bool wanted = (node->status == AndroidFileOnly && (context->copyFlags & kCopyCreateHost)) ||
                      (node->status == AndroidFileNewer && (context->copyFlags & kCopyUpdateHost));
        if (wanted && !pullFile(context, node)) return false;
    }
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

}  // namespace

int runSync(SyncContext* context) {
    // The host root is checked first, so a mistyped root is reported without a server.
    checkHostRoot(context);
    if (!adbConnect(&context->conn)) {
        writeRunMessage("No ADB server");
        return kExitNoServer;
    }
    selectTransport(&context->conn);
    sendHostRequest(&context->conn, "sync:");
    readHostStatus(&context->conn);
    checkAndroidRoot(context);

    compareTrees(context, &context->hostTop, &context->androidTop);
    listResults(context);

    // Pushes before pulls; a failed copy ends the run without QUIT and without summary.
    if ((context->copyFlags & (kCopyUpdateAndroid | kCopyCreateAndroid | kCopyDirsAndroid)) &&
        !pushPass(context)) {
        writeRunMessage("Can't copy to android");
        return kExitPushFailed;
    }
    if ((context->copyFlags & (kCopyUpdateHost | kCopyCreateHost | kCopyDirsHost)) &&
        !pullPass(context)) {
        writeRunMessage("Can't copy to host");
        return kExitPullFailed;
    }

    syncQuit(context);
    if (context->listMask & kListSummary) printSummary(context);
    return kExitSuccess;
}
