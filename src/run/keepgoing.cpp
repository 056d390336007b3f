// -k: going on past a file that cannot be copied and past a lost connection. A
// device FAIL or a dropped connection empties the copy window: the failed file is
// listed, the files in flight behind it are copied again on a new connection (after
// a FAIL the spare held ready in sync mode, so a refusal waits for no reply), and a
// device that does not come back ends the run after the list.
#include "run/keepgoing.h"

#include <cstdio>
#include <cstring>
#include <deque>

#include "adb/connection.h"
#include "adb/reconnect.h"
#include "run/context.h"
#include "run/notcopied.h"
#include "run/passstate.h"
#include "support/errors.h"

namespace {

constexpr char kReasonDeviceFull[] = "not tried, the device is full";
constexpr char kReasonGone[] = "the device did not come back";
constexpr char kReasonDropping[] = "the connection kept dropping";
constexpr char kReasonDroppedTwice[] = "the connection dropped twice while it was copied";
// A run gives up after this many lost connections in a row without a file copied in
// between; each wait for the device lasts at most kReopenWaitMs. A file is copied
// again after one lost connection, not after a second (through the real server a
// device's FAIL may arrive as a reset). A reconnection after a device FAIL ends a
// file for good. So reconnections are bounded by twice the files of the run.
constexpr uint32_t kMaxDrops = 10;

uint32_t comebackWaitMs = kReopenWaitMs;  // shorter in a test build only

void writeRunLine(const char* text) {
    char line[kReasonBytes];
    std::snprintf(line, sizeof line, "%s%s", text, osLineEnd());
    osWriteStdout(line, std::strlen(line));
}

bool deviceSaysFull(const char* text) {
    return std::strstr(text, "No space left on device") != nullptr ||
           std::strstr(text, "Disk quota exceeded") != nullptr;
}

// The device or the server did not come back: nothing more of the run is tried, and
// after the list the run ends with `code`.
void giveUp(CopyWindow* window, const char* reason, uint32_t code) {
    SyncContext* context = window->context;
    context->goneReason = reason;
    context->goneCode = code;
    passOf(window)->stopReason = reason;
    adbRelease(&context->conn);
}

// Opens the sync connection again. After a FAIL the device is there: one attempt.
// Otherwise, or when that attempt fails, the run waits for the device (one line when
// it starts, one when it is back), at most kMaxDrops times. False when it gave up.
bool reopen(CopyWindow* window, bool afterFail) {
    SyncContext* context = window->context;
    if (afterFail && (spareTake(&context->spare, &context->conn) ||
                      adbReopen(&context->conn, false) == ReopenResult::Ready)) {
        context->spareOpened = 0;
        return true;
    }
    // A lost connection took the spare with it, or will be waited for: none is used.
    spareClose(&context->spare);
    if (++context->drops > kMaxDrops) {
        giveUp(window, kReasonDropping, ERR_DEVICE_DISCONNECTED);
        return false;
    }
    char line[kReasonBytes];
    std::snprintf(line, sizeof line,
                  "Connection to the device lost, waiting up to %u s for it to come back",
                  static_cast<unsigned>(comebackWaitMs / 1000));
    writeRunLine(line);
    ReopenResult result = adbReopenWithin(&context->conn, comebackWaitMs);
    if (result == ReopenResult::Ready) {
        context->spareOpened = 0;
        writeRunLine("The device is back");
        return true;
    }
    giveUp(window, kReasonGone,
           result == ReopenResult::NoServer ? ERR_ADB_CONNECT : ERR_DEVICE_DISCONNECTED);
    return false;
}

// Empties the window after the connection ended: the oldest file fails (a device FAIL,
// or a host failure already known) or is copied again from its start (a drop); the
// files behind it are copied again (`redo`, in order) unless the pass stopped. Then
// the connection is opened again.
void recover(CopyWindow* window, CopyFault fault, std::deque<FileNode*>* redo) {
    SyncContext* context = window->context;
    discardPullTarget(&passOf(window)->target);
    uint32_t from = 0;
    if (window->count > 0) {
        InFlightFile* file = oldestFile(window);
        char reason[kReasonBytes];
        reason[0] = 0;
        if (passOf(window)->failure[0] != 0)
            std::snprintf(reason, sizeof reason, "%s", passOf(window)->failure);
        else if (fault == CopyFault::DeviceFail)
            std::snprintf(reason, sizeof reason, "%s", raisedText());
        else if (context->lastDropped == file->node)
            std::snprintf(reason, sizeof reason, "%s", kReasonDroppedTwice);
        if (fault == CopyFault::Dropped) context->lastDropped = file->node;
        if (reason[0] != 0 && file->notTried == nullptr) {
            if (passOf(window)->pushing && deviceSaysFull(reason) &&
                passOf(window)->stopReason == nullptr) {
                passOf(window)->stopReason = kReasonDeviceFull;
                passOf(window)->stopToSay = true;
            }
            sayNotCopied(context, file->node, reason, oldestLineOpen(window));
            keepNotCopied(context, file->status, file->node, reason);
            from = 1;
        } else if (oldestLineOpen(window)) {
            writeRunLine("interrupted");
        }
        if (passOf(window)->stopToSay) sayStopped(window);
    }
    for (uint32_t i = from; i < window->count; ++i) {
        InFlightFile* file = &window->files[(window->first + i) % kWindowFiles];
        const char* notTried = file->notTried ? file->notTried : passOf(window)->stopReason;
        if (notTried)
            keepNotCopied(context, file->status, file->node, notTried);
        else
            redo->push_back(file->node);
    }
    passOf(window)->failure[0] = 0;
    emptyWindow(window);
    reopen(window, fault == CopyFault::DeviceFail);
}

// The newest push could not be read whole and part of it went out: the files before
// it finish on this connection, then the connection is ended (the device drops the
// partial file) and opened again.
void abandonNewest(CopyWindow* window) {
    drainWindow(window, 1);
    char reason[kReasonBytes];
    std::snprintf(reason, sizeof reason, "%s", passOf(window)->hostReason);
    InFlightFile* file = oldestFile(window);
    sayNotCopied(window->context, file->node, reason, oldestLineOpen(window));
    keepNotCopied(window->context, file->status, file->node, reason);
    emptyWindow(window);
    reopen(window, true);
}

// One spare per connection: it is opened when the run copies its first file, and
// again after each new connection, so spares never outnumber the connections; its
// requests advance between copies.
void keepSpare(SyncContext* context) {
    if (!context->spareOpened && context->goneReason == nullptr) {
        context->spareOpened = 1;
        spareOpen(&context->spare, &context->conn);
    }
    spareAdvance(&context->spare);
}

}  // namespace

void copyKeepingOn(CopyWindow* window, FileNode* node, bool (*copy)(CopyWindow*, FileNode*),
                   bool finish) {
    std::deque<FileNode*> todo;
    if (node) todo.push_back(node);
    for (;;) {
        if (passOf(window)->stopReason) {
            for (FileNode* left : todo)
                keepNotCopied(window->context, statusOf(window, left), left,
                              passOf(window)->stopReason);
            todo.clear();
        }
        if (todo.empty() && !finish) return;
        FileNode* current = todo.empty() ? nullptr : todo.front();
        try {
            if (current == nullptr) {
                // Given up: the connection is closed and nothing is in flight.
                if (window->context->goneReason == nullptr) finishWindow(window);
                return;
            }
            keepSpare(window->context);
            if (!copy(window, current)) abandonNewest(window);
            todo.pop_front();
        } catch (const SyncError& error) {
            CopyFault fault = copyFaultOf(error.code);
            if (fault == CopyFault::None) throw;
            bool inWindow = false;
            for (uint32_t i = 0; i < window->count; ++i)
                inWindow |= window->files[(window->first + i) % kWindowFiles].node == current;
            if (current) todo.pop_front();
            std::deque<FileNode*> redo;
            recover(window, fault, &redo);
            if (current && !inWindow) redo.push_back(current);
            todo.insert(todo.begin(), redo.begin(), redo.end());
        }
    }
}

void setComebackWait(uint32_t milliseconds) {
    comebackWaitMs = milliseconds;
}

// -k: the line that says a full side stopped its pass.
void sayStopped(CopyWindow* window) {
    PassState* pass = passOf(window);
    pass->stopToSay = false;
    writeRunLine(pass->pushing ? "The device is full: the rest of the push pass is not tried"
                               : "The host disk is full: the rest of the pull pass is not tried");
}
