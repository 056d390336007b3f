// The progress line on a terminal: one line under the normal output that shows,
// while the comparison reads, the directories and entries read so far and, while
// files are copied, the current file, its percentage, files and bytes done of the
// run's totals, the rate and the time left. It is drawn only when standard output is
// a terminal, at most ten times a second, taken away before every other console write
// and at the end, so the text left on the screen is the normal output. A copy line
// that is begun (its duration still to come) is held back meanwhile and written whole.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "run/listing.h"

struct FileNode;

constexpr size_t kStatusChars = 256;                 // the widest status line, terminator included
constexpr size_t kStatusHeldBytes = kLineChars + 4;  // a begun copy line and its " - "
constexpr size_t kStatusByteChars = 16;              // formatStatusBytes text and terminator
constexpr size_t kStatusTimeChars = 24;              // formatStatusTime text and terminator

struct StatusLine {
    bool on;                  // standard output is a terminal and the line is wanted
    bool selfWrite;           // its own writes pass the console hook untouched
    bool lineOpen;            // the normal output left its last line unfinished
    uint32_t drawnColumns;    // columns the drawn text covers; 0 when none is drawn
    uint64_t frequency;       // counter ticks per second
    uint64_t begun;           // counter at statusBegin
    uint64_t lastDraw;        // counter at the last draw; 0 before the first
    uint64_t directories;     // directory levels compared so far
    uint64_t entries;         // names merged so far
    bool copying;             // the copy passes have begun
    uint64_t copyStart;       // counter when they began
    uint64_t totalFiles;      // files the passes will copy
    uint64_t totalBytes;      // and their listed bytes
    uint64_t doneFiles;       // files finished (copied or left as they were)
    uint64_t doneBytes;       // bytes sent or received
    const FileNode* current;  // the file whose bytes move
    uint64_t currentSize;     // its listed size
    uint64_t currentDone;     // its bytes so far
    size_t heldLength;
    char held[kStatusHeldBytes];  // the begun copy line, not yet written
};

// Starts the line when `wanted` and standard output is a terminal; otherwise the
// record stays off and every call below does nothing.
void statusBegin(StatusLine* status, bool wanted);
// Takes the line away, writes a held copy line, and ends the record.
void statusEnd(StatusLine* status);

// The comparison merged the children of one directory level: `entries` names.
void statusDirectoryRead(StatusLine* status, uint64_t entries);
// The copy passes begin; they will copy `files` files of `bytes` bytes.
void statusCopiesBegin(StatusLine* status, uint64_t files, uint64_t bytes);
// The bytes of `node` (listed size `size`) begin to move.
void statusFileBegin(StatusLine* status, const FileNode* node, uint64_t size);
// `count` more bytes of the current file were sent or received.
void statusBytes(StatusLine* status, uint64_t count);
// One more file is finished, copied or not.
void statusFileEnd(StatusLine* status);

// Holds back text of a begun copy line while the line is on (true); false when the
// caller must write it itself.
bool statusHold(StatusLine* status, const char* text, size_t length);

// The texts of the line, for a line of at most `limit` columns (`out` holds
// kStatusChars). `elapsed` is the time since the copies began, in seconds.
size_t composeReadStatus(const StatusLine* status, char* out, size_t limit);
size_t composeCopyStatus(const StatusLine* status, const char* path, double elapsed, char* out,
                         size_t limit);
// "999 B", "1.0 kB", "12.3 MB", "120 MB", "1.2 GB" (units of 1024).
void formatStatusBytes(uint64_t bytes, char* out);
// "0:42", "12:05", "1:02:05".
void formatStatusTime(uint64_t seconds, char* out);
