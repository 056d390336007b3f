// The progress line on a terminal, drawn with a carriage return and taken away with
// blanks and a carriage return (no other control characters, so a console or a
// terminal without escape sequences shows it as well).
//
// Sections: text of the line; drawing and erasing; the run's progress.
#include "run/statusline.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tree/filetree.h"

namespace {

constexpr uint32_t kDrawsPerSecond = 10;    // redraws at most this often
constexpr uint32_t kQuietStartDivisor = 2;  // nothing is drawn in the first half second
constexpr uint32_t kDefaultColumns = 80;    // a terminal that does not say its width
constexpr size_t kNarrowestLine = 12;       // columns below which nothing is drawn
constexpr size_t kShortestPath = 8;         // a path cut shorter than this is left out
constexpr double kLongestTimeLeft = 1e9;    // seconds; an estimate beyond is shown as this

// ---------------------------------------------------------------------------
// Text of the line
// ---------------------------------------------------------------------------

struct ByteUnit {
    uint64_t divisor;
    const char* name;
};

constexpr ByteUnit kByteUnits[] = {
    {1, "B"},            // B
    {1ull << 10, "kB"},  // kB
    {1ull << 20, "MB"},  // MB
    {1ull << 30, "GB"},  // GB
    {1ull << 40, "TB"},  // TB
    {1ull << 50, "PB"},  // PB
    {1ull << 60, "EB"},  // EB: the last, 2^64 bytes are 16 EB
};
static_assert(sizeof kByteUnits / sizeof kByteUnits[0] == 7, "seven byte units");

// Appends `text` to `out` (kStatusChars) at `*length`, as far as it fits.
void append(char* out, size_t* length, const char* text) {
    size_t count = std::strlen(text);
    if (count > kStatusChars - 1 - *length) count = kStatusChars - 1 - *length;
    std::memcpy(out + *length, text, count);
    *length += count;
    out[*length] = 0;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The end of `path` that fits `room` columns behind "...", from a character's start.
// A byte counts as a column: no character is wider than its UTF-8 bytes.
const char* pathTail(const char* path, size_t room) {
    size_t length = std::strlen(path);
    if (length <= room) return path;
    const char* tail = path + length - (room - 3);
    while (*tail != 0 && isContinuationByte(*tail)) ++tail;
    return tail;
}

// ---------------------------------------------------------------------------
// Drawing and erasing
// ---------------------------------------------------------------------------

uint64_t now() {
    return osPerfCounter();
}

// Writes the line's own text, past the console hook. A write that fails (a closed
// terminal) ends the drawing for the rest of the run.
void writeOwn(StatusLine* status, const char* text, size_t length) {
    status->selfWrite = true;
    bool written = osWriteStdout(text, length);
    status->selfWrite = false;
    if (!written) {
        status->on = false;
        status->drawnColumns = 0;
    }
}

size_t lineLimit() {
    uint32_t columns = osTerminalColumns();
    if (columns == 0) columns = kDefaultColumns;
    // The last column is left free: a console wraps when it is written.
    size_t limit = columns - 1;
    return limit < kStatusChars - 1 ? limit : kStatusChars - 1;
}

void erase(StatusLine* status) {
    if (status->drawnColumns == 0) return;
    char text[kStatusChars + 2];
    size_t count = status->drawnColumns;
    size_t limit = lineLimit();
    if (count > limit) count = limit;  // a narrower window: blanks past it would wrap
    text[0] = '\r';
    std::memset(text + 1, ' ', count);
    text[count + 1] = '\r';
    status->drawnColumns = 0;
    writeOwn(status, text, count + 2);
}

void flushHeld(StatusLine* status) {
    if (status->heldLength == 0) return;
    size_t length = status->heldLength;
    status->heldLength = 0;
    status->lineOpen = status->held[length - 1] != '\n';
    status->selfWrite = true;
    osWriteStdout(status->held, length);
    status->selfWrite = false;
}

// Every other console write: the line goes first, and a held copy line is written
// before the text that follows it.
void beforeConsoleWrite(void* data, int stream, const char* text, size_t length) {
    StatusLine* status = static_cast<StatusLine*>(data);
    if (status->selfWrite) return;
    erase(status);
    flushHeld(status);
    // Only standard output ends a line for sure: standard error may go elsewhere.
    if (stream == 1 && text != nullptr && length > 0) status->lineOpen = text[length - 1] != '\n';
}

void draw(StatusLine* status) {
    if (!status->on || status->lineOpen) return;
    uint64_t counter = now();
    uint64_t frequency = status->frequency;
    if (counter - status->begun < frequency / kQuietStartDivisor) return;
    if (status->lastDraw != 0 && counter - status->lastDraw < frequency / kDrawsPerSecond) return;
    status->lastDraw = counter;

    size_t limit = lineLimit();
    if (limit < kNarrowestLine) return;
    char text[kStatusChars];
    size_t length;
    if (status->copying) {
        char path[kNarrowPathBytes] = "";
        if (status->current != nullptr) displayPath(status->current, path);
        double elapsed = static_cast<double>(counter - status->copyStart) / double(frequency);
        length = composeCopyStatus(status, path, elapsed, text, limit);
    } else {
        length = composeReadStatus(status, text, limit);
    }
    // Over the old text from its start; blanks cover what the new text leaves of it.
    char line[kStatusChars * 2 + 1];
    line[0] = '\r';
    std::memcpy(line + 1, text, length);
    size_t used = 1 + length;
    // A window made narrower: blanks past its edge would wrap onto a new line.
    if (status->drawnColumns > limit) status->drawnColumns = static_cast<uint32_t>(limit);
    if (status->drawnColumns > length) {
        size_t blanks = status->drawnColumns - length;
        std::memset(line + used, ' ', blanks);
        used += blanks;
    } else {
        status->drawnColumns = static_cast<uint32_t>(length);
    }
    writeOwn(status, line, used);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text of the line
// ---------------------------------------------------------------------------

void formatStatusBytes(uint64_t bytes, char* out) {
    size_t unit = 0;
    // The first unit whose rounded value stays below 1000.
    while (unit + 1 < sizeof kByteUnits / sizeof kByteUnits[0]) {
        uint64_t divisor = kByteUnits[unit].divisor;
        if (bytes / divisor + (bytes % divisor >= divisor - divisor / 2 ? 1 : 0) < 1000) break;
        ++unit;
    }
    uint64_t divisor = kByteUnits[unit].divisor;
    const char* name = kByteUnits[unit].name;
    uint64_t whole = bytes / divisor;
    uint64_t rest = bytes % divisor;
    // Tenths below 100 (not for bytes); rounded to the nearest.
    uint64_t tenths = whole * 10 + (rest * 10 + divisor / 2) / divisor;
    if (unit > 0 && tenths < 1000) {
        std::snprintf(out, kStatusByteChars, "%u.%u %s", unsigned(tenths / 10),
                      unsigned(tenths % 10), name);
        return;
    }
    uint64_t rounded = whole + (rest >= divisor - divisor / 2 ? 1 : 0);
    std::snprintf(out, kStatusByteChars, "%llu %s", static_cast<unsigned long long>(rounded), name);
}

void formatStatusTime(uint64_t seconds, char* out) {
    unsigned long long hours = seconds / 3600;
    unsigned minutes = unsigned(seconds / 60 % 60);
    unsigned rest = unsigned(seconds % 60);
    if (hours > 0)
        std::snprintf(out, kStatusTimeChars, "%llu:%02u:%02u", hours, minutes, rest);
    else
        std::snprintf(out, kStatusTimeChars, "%u:%02u", minutes, rest);
}

size_t composeReadStatus(const StatusLine* status, char* out, size_t limit) {
    char directories[kWideNumberChars];
    char entries[kWideNumberChars];
    formatThousands64(status->directories, directories);
    formatThousands64(status->entries, entries);
    size_t length = 0;
    out[0] = 0;
    append(out, &length, "Reading: ");
    append(out, &length, directories);
    append(out, &length, status->directories == 1 ? " directory, " : " directories, ");
    append(out, &length, entries);
    append(out, &length, status->entries == 1 ? " entry" : " entries");
    if (length > limit) length = limit;
    out[length] = 0;
    return length;
}

size_t composeCopyStatus(const StatusLine* status, const char* path, double elapsed, char* out,
                         size_t limit) {
    uint64_t size = status->currentSize;
    uint64_t done = status->currentDone < size ? status->currentDone : size;
    uint64_t percent = size == 0            ? 100
                       : size > ~0ull / 100 ? done / (size / 100)
                                            : done * 100 / size;
    if (percent > 100) percent = 100;
    char head[16];
    std::snprintf(head, sizeof head, "[%3u%%] ", unsigned(percent));

    // The figures after the path: files, bytes, rate and time left.
    char tail[kStatusChars];
    size_t tailLength = 0;
    char number[kWideNumberChars];
    char bytes[kStatusByteChars];
    tail[0] = 0;
    append(tail, &tailLength, "  ");
    formatThousands64(status->doneFiles, number);
    append(tail, &tailLength, number);
    append(tail, &tailLength, "/");
    formatThousands64(status->totalFiles, number);
    append(tail, &tailLength, number);
    append(tail, &tailLength, status->totalFiles == 1 ? " file  " : " files  ");
    formatStatusBytes(status->doneBytes, bytes);
    append(tail, &tailLength, bytes);
    append(tail, &tailLength, "/");
    formatStatusBytes(status->totalBytes, bytes);
    append(tail, &tailLength, bytes);
    // The rate over the copies so far, once there is something to measure.
    if (elapsed >= 0.5 && status->doneBytes > 0) {
        double rate = double(status->doneBytes) / elapsed;
        formatStatusBytes(static_cast<uint64_t>(rate), bytes);
        append(tail, &tailLength, "  ");
        append(tail, &tailLength, bytes);
        append(tail, &tailLength, "/s");
        uint64_t left =
            status->totalBytes > status->doneBytes ? status->totalBytes - status->doneBytes : 0;
        double seconds = double(left) / rate;
        if (seconds > kLongestTimeLeft) seconds = kLongestTimeLeft;
        char time[kStatusTimeChars];
        formatStatusTime(static_cast<uint64_t>(seconds + 0.5), time);
        append(tail, &tailLength, "  ");
        append(tail, &tailLength, time);
        append(tail, &tailLength, " left");
    }

    size_t length = 0;
    out[0] = 0;
    append(out, &length, head);
    size_t fixed = length + tailLength;
    size_t room = limit > fixed ? limit - fixed : 0;
    if (room >= kShortestPath || std::strlen(path) <= room) {
        const char* shown = pathTail(path, room);
        if (shown != path) append(out, &length, "...");
        append(out, &length, shown);
        append(out, &length, tail);
    } else {
        append(out, &length, tail + 2);  // no room for the path: the figures alone
    }
    if (length > limit) length = limit;
    out[length] = 0;
    return length;
}

// ---------------------------------------------------------------------------
// The run's progress
// ---------------------------------------------------------------------------

void statusBegin(StatusLine* status, bool wanted) {
    *status = StatusLine{};
    if (!wanted || !osStdoutIsTerminal()) return;
    status->on = true;
    status->frequency = osPerfFrequency();
    status->begun = now();
    osSetConsoleHook(beforeConsoleWrite, status);
}

void statusEnd(StatusLine* status) {
    if (!status->on && status->heldLength == 0 && status->drawnColumns == 0) return;
    erase(status);
    flushHeld(status);
    osSetConsoleHook(nullptr, nullptr);
    status->on = false;
}

void statusDirectoryRead(StatusLine* status, uint64_t entries) {
    status->directories += 1;
    status->entries += entries;
    draw(status);
}

void statusCopiesBegin(StatusLine* status, uint64_t files, uint64_t bytes) {
    status->copying = true;
    status->copyStart = now();
    status->totalFiles = files;
    status->totalBytes = bytes;
}

void statusFileBegin(StatusLine* status, const FileNode* node, uint64_t size) {
    status->current = node;
    status->currentSize = size;
    status->currentDone = 0;
    draw(status);
}

void statusBytes(StatusLine* status, uint64_t count) {
    status->currentDone += count;
    status->doneBytes += count;
    draw(status);
}

void statusFileEnd(StatusLine* status) {
    status->doneFiles += 1;
    draw(status);
}

bool statusHold(StatusLine* status, const char* text, size_t length) {
    if (!status->on) return false;
    if (length > sizeof status->held - status->heldLength) {
        // Cannot happen for a copy line; write what is held and the text in order.
        erase(status);
        flushHeld(status);
        return false;
    }
    std::memcpy(status->held + status->heldLength, text, length);
    status->heldLength += length;
    return true;
}
