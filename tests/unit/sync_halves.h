// One sync query at a time for the client tests, made of the request and reply halves
// the run's look-ahead sends and reads: the request goes out, then its reply is read.
#pragma once

#include <cstdint>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "tree/filetree.h"

// False when nothing is there or the node's path does not fit (nothing is sent).
inline bool statNow(AdbConnection* conn, const char16_t* root, FileNode* node) {
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putStatRequest(conn, request, root, node);
    if (length == 0) return false;
    adbSendAll(conn, request, length);
    return readStatReplyIntoNode(conn, root, node);
}

// The marker STAT of a device directory.
inline bool markerNow(AdbConnection* conn, const char16_t* root, FileNode* directory) {
    MarkerNode marker;
    initMarkerNode(&marker, directory);
    return statNow(conn, root, &marker.node);
}

// The directory reads as empty when its path does not fit (nothing is sent).
inline void listNow(AdbConnection* conn, PrivateHeap* heap, const char16_t* root,
                    FileNode* directory) {
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putListRequest(conn, request, root, directory);
    if (length == 0) return;
    adbSendAll(conn, request, length);
    readListReply(conn, heap, root, directory, nullptr);
}
