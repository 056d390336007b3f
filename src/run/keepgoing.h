// -k: the copy of one file that goes on past a device FAIL, a host failure and a lost
// connection (the connection is opened again and the files in flight are sent
// again), and the line that says a full side stopped its pass.
// Raise: copyKeepingOn, on every fault but a device FAIL and a lost connection.
#pragma once

#include <cstdint>

struct CopyWindow;
struct FileNode;

// Copies `node` (none: nothing new) and, after a failure, the files in flight behind
// it again; with `finish`, then reads everything in flight to its end. A device FAIL
// and a lost connection are met here; every other raise ends the run.
void copyKeepingOn(CopyWindow* window, FileNode* node, bool (*copy)(CopyWindow*, FileNode*),
                   bool finish);
// The line that says a full side stopped its pass (its pass's stopToSay is cleared).
void sayStopped(CopyWindow* window);
// How long a lost device is waited for, kReopenWaitMs unless a test build set a
// shorter one, so that its tests of a device that never comes back do not wait it out.
void setComebackWait(uint32_t milliseconds);
