// The status table: list code and label of every node status, in code order.
#include "tree/status.h"

#include <iterator>

const StatusRow statusTable[] = {
    {"  ", "Unknown"},               // Unknown
    {"  ", "Dirs match"},            // DirsMatch
    {"H ", "Host dir only"},         // HostDirOnly
    {"A ", "Android dir only"},      // AndroidDirOnly
    {"H!", "Host dir conflict"},     // HostDirConflict
    {"A!", "Android dir conflict"},  // AndroidDirConflict
    {"  ", "Host dir ignored"},      // HostDirIgnored
    {"  ", "Android dir ignored"},   // AndroidDirIgnored
    {"  ", "Files match"},           // FilesMatch
    {"H ", "Host file only"},        // HostFileOnly
    {"A ", "Android file only"},     // AndroidFileOnly
    {"H>", "Host file newer"},       // HostFileNewer
    {"A>", "Android file newer"},    // AndroidFileNewer
    {"  ", "Host file ignored"},     // HostFileIgnored
    {"  ", "Android file ignored"},  // AndroidFileIgnored
    {"<-", "Created on host"},       // CreatedOnHost
    {"->", "Created on android"},    // CreatedOnAndroid
    {"<~", "Updated on host"},       // UpdatedOnHost
    {"~>", "Updated on android"},    // UpdatedOnAndroid
};
static_assert(std::size(statusTable) == kStatusCount, "one row per status");
