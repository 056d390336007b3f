// Node statuses: the classification codes with their two-character list codes
// and labels, shared by the comparison, the listing and the summary.
#pragma once

#include <cstdint>

enum NodeStatus : int32_t {
    Unknown,             // 0
    DirsMatch,           // 1
    HostDirOnly,         // 2
    AndroidDirOnly,      // 3
    HostDirConflict,     // 4
    AndroidDirConflict,  // 5
    HostDirIgnored,      // 6
    AndroidDirIgnored,   // 7
    FilesMatch,          // 8
    HostFileOnly,        // 9
    AndroidFileOnly,     // 10
    HostFileNewer,       // 11
    AndroidFileNewer,    // 12
    HostFileIgnored,     // 13
    AndroidFileIgnored,  // 14
    CreatedOnHost,       // 15
    CreatedOnAndroid,    // 16
    UpdatedOnHost,       // 17
    UpdatedOnAndroid,    // 18
    kStatusCount
};

struct StatusRow {
    const char* listCode;   // two characters
    const char* label;
};

extern const StatusRow statusTable[kStatusCount];
