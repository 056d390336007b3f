// Node statuses: the classification codes with their two-character list codes
// and labels, shared by the comparison, the listing and the summary.
// Nothing here raises.
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
    const char* listCode;  // two characters
    const char* label;
};

extern const StatusRow statusTable[];  // kStatusCount rows, in code order

// The bit of a status in a list mask (bit n lists status n), and the bits of a
// run of consecutive statuses.
constexpr uint32_t statusBit(int status) {
    return 1u << status;
}
constexpr uint32_t statusBits(int first, int last) {
    uint32_t bits = 0;
    for (int status = first; status <= last; ++status) bits |= statusBit(status);
    return bits;
}
