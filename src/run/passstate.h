// A copy pass's own state beside its copy window, shared by the passes and the -k
// recovery: the pull's temporary file and what -k keeps about failures, and the copy
// status a file of the pass gets.
#pragma once

#include <cstdint>

#include "hostfs/pulltarget.h"
#include "run/copywindow.h"
#include "tree/filetree.h"
#include "tree/status.h"

constexpr uint32_t kReasonBytes = 256;  // a reason held until its file retires

// A pass's own state beside its window: the pull's temporary file, and what -k
// keeps about failures.
struct PassState {
    PullTarget target;  // pull: the oldest file's temporary file
    bool pushing;
    const char* stopReason;         // -k: the rest of the pass is not tried, for this reason
    bool stopToSay;                 // -k: the pass stopped; its line is still to be written
    char failure[kReasonBytes];     // -k: why the oldest pull fails; the rest of it is dropped
    char hostReason[kReasonBytes];  // -k: why the newest push could not be read whole
};

inline PassState* passOf(CopyWindow* window) {
    return static_cast<PassState*>(window->pass);
}

inline int pushStatus(const FileNode* node) {
    return node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
}

inline int pullStatus(const FileNode* node) {
    return node->partner ? UpdatedOnHost : CreatedOnHost;
}

inline int statusOf(CopyWindow* window, const FileNode* node) {
    return passOf(window)->pushing ? pushStatus(node) : pullStatus(node);
}
