// Console output about the comparison: numbers with thousands separators, size and
// time differences, listing lines in fixed columns, timed copy lines, the listing
// pass (one-sided blocks, merged walk) and the summary. Each line is one write.
//
// Sections: number and difference text; line composition; copy lines; listing
// pass; summary.
#include "run/listing.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "run/context.h"
#include "run/statusline.h"
#include "support/encodings.h"
#include "support/timetext.h"

namespace {

// ---------------------------------------------------------------------------
// Number and difference text
// ---------------------------------------------------------------------------

struct UnitRow {
    uint64_t threshold;  // first magnitude shown in this unit
    uint64_t divisor;
    const char* unit;
};

// Size differences in bytes, searched from the top.
constexpr UnitRow sizeUnits[] = {
    {1048051712, 1073741824, "GB"},  // GB: from 999.5 MiB
    {1023488, 1048576, "MB"},        // MB: from 999.5 KiB
    {1000, 1024, "kB"},              // kB
    {0, 1, "B"},                     // B
};
static_assert(std::size(sizeUnits) == 4, "four size units");

// Time differences in 100 ns units, searched from the top.
constexpr UnitRow timeUnits[] = {
    {311472000000000, 315576000000000, "y"},  // y: from 360.5 days, 365.25 days each
    {5616000000000, 6048000000000, "w"},      // w: from 6.5 days
    {846000000000, 864000000000, "d"},        // d: from 23.5 hours
    {35700000000, 36000000000, "h"},          // h: from 59.5 minutes
    {595000000, 600000000, "m"},              // m: from 59.5 seconds
    {0, 10000000, "s"},                       // s
};
static_assert(std::size(timeUnits) == 6, "six time units");

const UnitRow* findUnit(const UnitRow* rows, size_t count, uint64_t magnitude) {
    for (size_t i = 0; i + 1 < count; ++i)
        if (rows[i].threshold <= magnitude) return &rows[i];
    return &rows[count - 1];
}

// (magnitude + divisor / 2) / divisor without the sum leaving 64 bits.
uint64_t roundedQuotient(uint64_t magnitude, uint64_t divisor) {
    uint64_t quotient = magnitude / divisor;
    if (magnitude % divisor >= divisor - divisor / 2) ++quotient;
    return quotient;
}

void formatSizeMagnitude(bool negative, uint64_t magnitude, char* out) {
    const UnitRow* row = findUnit(sizeUnits, std::size(sizeUnits), magnitude);
    out[0] = negative ? '-' : '+';
    formatThousands64(roundedQuotient(magnitude, row->divisor), out + 1);
    strcat(out, row->unit);
}

// a * b / c for a < c, through a 128-bit product (the quotient is below b).
uint64_t mulDivBelow(uint64_t a, uint64_t b, uint64_t c) {
    constexpr uint64_t kLow32 = 0xFFFFFFFF;
    uint64_t ll = (a & kLow32) * (b & kLow32);
    uint64_t lh = (a & kLow32) * (b >> 32);
    uint64_t hl = (a >> 32) * (b & kLow32);
    uint64_t hh = (a >> 32) * (b >> 32);
    uint64_t mid = (ll >> 32) + (lh & kLow32) + (hl & kLow32);
    uint64_t low = (mid << 32) | (ll & kLow32);
    uint64_t high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    // Restoring division of high:low by c; high < c because a < c.
    uint64_t remainder = high;
    uint64_t quotient = 0;
    for (int bit = 63; bit >= 0; --bit) {
        bool carry = (remainder >> 63) != 0;
        remainder = (remainder << 1) | ((low >> bit) & 1);
        quotient <<= 1;
        if (carry || remainder >= c) {
            remainder -= c;
            quotient |= 1;
        }
    }
    return quotient;
}

// ---------------------------------------------------------------------------
// Line composition
// ---------------------------------------------------------------------------

constexpr unsigned kCodeColumn = 0;
constexpr unsigned kSizeColumn = 2;      // where a 13-character size begins
constexpr unsigned kSizeEndColumn = 14;  // last column of a size of up to 13 characters
constexpr unsigned kTimeColumn = 17;
constexpr unsigned kLabelColumn = 4;          // summary
constexpr unsigned kCountEndColumn = 32;      // summary
constexpr unsigned kLineEndChars = 2;         // CR LF at most
constexpr unsigned kAbandonReasonChars = 80;  // the reason of an abandoned copy, ": " and line end

// The longest listing line: leading line end, code and the widest size, the time
// column, the path, both differences and the line end.
constexpr unsigned kLongestListLine = kLineEndChars + kSizeColumn + (kWideNumberChars - 1) + 2 +
                                      (kTimeTextChars - 1) + 2 + 1023 + 2 + (kSizeDiffChars - 1) +
                                      3 + (kTimeDiffChars - 1) + kLineEndChars;
static_assert(kLineChars >= kLongestListLine, "a listing line holds the longest path");

// A line in a blank-filled buffer; columns count from `start`, after a leading line end.
struct LineText {
    char* text;
    size_t capacity;
    size_t start;
    size_t length;  // end of the last text placed
};

void beginLine(SyncContext* context, LineText* line, char* buffer, size_t capacity) {
    memset(buffer, ' ', capacity);
    line->text = buffer;
    line->capacity = capacity;
    line->start = 0;
    if (context->needBlankLine != 0) {
        const char* lineEnd = osLineEnd();
        size_t count = strlen(lineEnd);
        memcpy(buffer, lineEnd, count);
        line->start = count;
        context->needBlankLine = 0;
    }
    line->length = line->start;
}

void placeText(LineText* line, size_t column, const char* text, size_t count) {
    size_t at = line->start + column;
    if (at >= line->capacity) return;
    if (count > line->capacity - at) count = line->capacity - at;
    memcpy(line->text + at, text, count);
    if (at + count > line->length) line->length = at + count;
}

void appendText(LineText* line, const char* text) {
    placeText(line, line->length - line->start, text, strlen(text));
}

// The listing pass writes its lines through this buffer, one write per 64 KiB rather
// than one per line; copy lines and the summary go out at once.
constexpr size_t kListingOutputBytes = 65536;
static_assert(kListingOutputBytes >= kLineChars, "a listing line fits the buffer");

struct ListingOutput {
    bool on;
    size_t used;
    char data[kListingOutputBytes];
};

ListingOutput listingOutput;

void flushListing() {
    osWriteStdout(listingOutput.data, listingOutput.used);
    listingOutput.used = 0;
}

void writeLine(const LineText* line) {
    if (!listingOutput.on) {
        osWriteStdout(line->text, line->length);
        return;
    }
    if (listingOutput.used + line->length > kListingOutputBytes) flushListing();
    memcpy(listingOutput.data + listingOutput.used, line->text, line->length);
    listingOutput.used += line->length;
}

bool isListed(uint32_t mask, int status) {
    return status > Unknown && status < kStatusCount && (mask & (1u << status)) != 0;
}

void listNode(SyncContext* context, uint32_t mask, int status, const FileNode* node,
              const FileNode* partner) {
    if (isListed(mask, status)) writeListLine(context, status, node, partner, true);
}

// A listing line without its line end, in `buffer` (kLineChars).
void composeListLine(SyncContext* context, LineText* out, char* buffer, int status,
                     const FileNode* node, const FileNode* partner) {
    LineText& line = *out;
    beginLine(context, &line, buffer, kLineChars);
    placeText(&line, kCodeColumn, statusTable[status].listCode, 2);

    // A size wider than 13 characters (10 GB and more) pushes the rest of the line
    // to the right rather than covering the code.
    size_t shift = 0;
    if (!isDirectory(node)) {
        char number[kWideNumberChars];
        formatThousands64(node->size, number);
        size_t width = strlen(number);
        size_t normalWidth = kSizeEndColumn + 1 - kSizeColumn;
        if (width > normalWidth) shift = width - normalWidth;
        size_t column = width > normalWidth ? kSizeColumn : kSizeEndColumn + 1 - width;
        placeText(&line, column, number, width);
    }

    char timeText[kTimeTextChars] = {};
    uint64_t mtime = node->mtime;
    formatFileTime(&mtime, timeText, sizeof timeText, kListTimeFlags);
    placeText(&line, kTimeColumn + shift, timeText, strlen(timeText));

    char path[kNarrowPathBytes];
    displayPath(node, path);
    appendText(&line, "  ");
    appendText(&line, path);

    if (partner != nullptr) {
        uint64_t size = node->size;
        uint64_t partnerSize = partner->size;
        if (size != partnerSize) {
            char text[kSizeDiffChars];
            if (size > partnerSize)
                formatSizeMagnitude(false, size - partnerSize, text);
            else
                formatSizeMagnitude(true, partnerSize - size, text);
            appendText(&line, "  ");
            appendText(&line, text);
        }
        // Callers pass the newer node; an older one still shows a true difference.
        if (node->mtime != partner->mtime) {
            char text[kTimeDiffChars];
            bool newer = node->mtime > partner->mtime;
            formatTimeDiff(newer ? node->mtime - partner->mtime : partner->mtime - node->mtime,
                           text);
            appendText(&line, newer ? "  +" : "  -");
            appendText(&line, text);
        }
    }
}

// ---------------------------------------------------------------------------
// Listing pass
// ---------------------------------------------------------------------------

constexpr uint32_t kStatusBits = statusBits(DirsMatch, kStatusCount - 1);
constexpr uint32_t kHostOnlyBits = statusBit(HostDirOnly) | statusBit(HostFileOnly);
constexpr uint32_t kAndroidOnlyBits = statusBit(AndroidDirOnly) | statusBit(AndroidFileOnly);

void listOneSidedBlock(SyncContext* context, uint32_t* mask, uint32_t bits, const FileNode* top,
                       int dirStatus, int fileStatus) {
    if ((*mask & bits) == 0) return;
    if (context->statusCounts[dirStatus] == 0 && context->statusCounts[fileStatus] == 0) return;
    *mask &= ~bits;
    context->printedAny = 0;
    for (const FileNode* node = top->firstChild; node != nullptr; node = nextNode(node))
        if (node->status == dirStatus || node->status == fileStatus)
            writeListLine(context, node->status, node, nullptr, true);
    if (context->printedAny != 0) context->needBlankLine = 1;
}

// Lists a subtree that exists on one side only, node before children, in name order.
void walkOneSided(SyncContext* context, uint32_t mask, const FileNode* first) {
    for (const FileNode* node = first; node != nullptr; node = node->nextSibling) {
        listNode(context, mask, node->status, node, nullptr);
        walkOneSided(context, mask, node->firstChild);
    }
}

// Lists the children of a directory pair (either side may be absent) in their merged
// order: the `order` numbers of one merge place the nodes of the two child lists, a
// pair shares one number. One-sided subtrees are listed on their own side, pairs are
// descended together, so every node is listed once at its place.
void walkPair(SyncContext* context, uint32_t mask, const FileNode* h, const FileNode* a) {
    while (h != nullptr || a != nullptr) {
        int64_t d;
        if (a == nullptr)
            d = -1;
        else if (h == nullptr)
            d = 1;
        else
            d = static_cast<int64_t>(h->order) - a->order;

        if (d < 0) {
            listNode(context, mask, h->status, h, nullptr);
            walkOneSided(context, mask, h->firstChild);
            h = h->nextSibling;
        } else if (d > 0) {
            listNode(context, mask, a->status, a, nullptr);
            walkOneSided(context, mask, a->firstChild);
            a = a->nextSibling;
        } else {
            // A pair is listed once: from the newer side, else from the host side.
            if (h->status == HostFileNewer)
                listNode(context, mask, HostFileNewer, h, a);
            else if (a->status == AndroidFileNewer)
                listNode(context, mask, AndroidFileNewer, a, h);
            else
                listNode(context, mask, h->status, h, nullptr);
            walkPair(context, mask, h->firstChild, a->firstChild);
            h = h->nextSibling;
            a = a->nextSibling;
        }
    }
}

// A copy line up to its duration: the list line and " - ".
void composeCopyLine(SyncContext* context, LineText* line, char* buffer, int status,
                     const FileNode* node, const FileNode* partner) {
    composeListLine(context, line, buffer, status, node, partner);
    appendText(line, " - ");
}

}  // namespace

// ---------------------------------------------------------------------------
// Number and difference text
// ---------------------------------------------------------------------------

void formatThousands(uint32_t value, char* out) {
    formatThousands64(value, out);
}

void formatThousands64(uint64_t value, char* out) {
    char digits[kWideNumberChars];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    size_t length = 0;
    while (count > 0) {
        out[length++] = digits[--count];
        if (count > 0 && count % 3 == 0) out[length++] = ',';
    }
    out[length] = 0;
}

void formatSizeDiff(int64_t difference, char* out) {
    bool negative = difference < 0;
    uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(difference) : static_cast<uint64_t>(difference);
    formatSizeMagnitude(negative, magnitude, out);
}

void formatTimeDiff(uint64_t difference, char* out) {
    const UnitRow* row = findUnit(timeUnits, std::size(timeUnits), difference);
    formatThousands(static_cast<uint32_t>(roundedQuotient(difference, row->divisor)), out);
    strcat(out, row->unit);
}

uint64_t copyElapsed(uint64_t ticks, uint64_t frequency) {
    constexpr uint64_t kMax = ~0ull;
    if (frequency == 0) return 0;
    uint64_t seconds = ticks / frequency;
    uint64_t fraction = mulDivBelow(ticks % frequency, kFileTimePerSecond, frequency);
    if (seconds > (kMax - fraction) / kFileTimePerSecond) return kMax;
    return seconds * kFileTimePerSecond + fraction;
}

// ---------------------------------------------------------------------------
// Listing lines and copy lines
// ---------------------------------------------------------------------------

void writeListLine(SyncContext* context, int status, const FileNode* node, const FileNode* partner,
                   bool endLine) {
    if (status < Unknown || status >= kStatusCount || node == nullptr) return;
    char buffer[kLineChars];
    LineText line;
    composeListLine(context, &line, buffer, status, node, partner);
    if (endLine) appendText(&line, osLineEnd());
    writeLine(&line);
    context->printedAny = 1;
}

void beginCopyLine(SyncContext* context, int status, const FileNode* node,
                   const FileNode* partner) {
    if (!isListed(context->listMask, status)) return;
    // Under a progress line the begun line waits, to be written whole with its end.
    char buffer[kLineChars];
    LineText line;
    composeCopyLine(context, &line, buffer, status, node, partner);
    if (!statusHold(&context->status, line.text, line.length))
        osWriteStdout(line.text, line.length);
    context->printedAny = 1;
    if (context->perfFrequency == 0) context->perfFrequency = osPerfFrequency();
    context->copyStart = osPerfCounter();
}

void writeDryCopyLine(SyncContext* context, int status, const FileNode* node,
                      const FileNode* partner) {
    if (!isListed(context->listMask, status)) return;
    char buffer[kLineChars];
    LineText line;
    composeCopyLine(context, &line, buffer, status, node, partner);
    appendText(&line, kDryRunMark);
    appendText(&line, osLineEnd());
    writeLine(&line);
    context->printedAny = 1;
}

void endCopyLine(SyncContext* context, int status) {
    if (status <= Unknown || status >= kStatusCount) return;
    context->statusCounts[status] += 1;
    if (!isListed(context->listMask, status)) return;
    uint64_t counter = osPerfCounter();
    uint64_t ticks = counter >= context->copyStart ? counter - context->copyStart : 0;
    char text[kDurationChars + kLineEndChars + 1] = {};
    formatDuration(copyElapsed(ticks, context->perfFrequency), text, kCopyDurationFlags);
    strcat(text, osLineEnd());
    osWriteStdout(text, strlen(text));
}

void reportSkipped(const FileNode* node, const char* reason) {
    char path[kNarrowPathBytes];
    displayPath(node, path);
    char line[kNarrowPathBytes + kAbandonReasonChars];
    snprintf(line, sizeof line, "%s: %s%s", reason, path, osLineEnd());
    osWriteStdout(line, strlen(line));
}

void abandonCopyLine(SyncContext* context, int status, const FileNode* node, const char* reason) {
    if (!isListed(context->listMask, status)) {
        reportSkipped(node, reason);
        return;
    }
    char line[kAbandonReasonChars];
    snprintf(line, sizeof line, "%s%s", reason, osLineEnd());
    osWriteStdout(line, strlen(line));
}

// ---------------------------------------------------------------------------
// Listing pass and summary
// ---------------------------------------------------------------------------

void listResults(SyncContext* context) {
    uint32_t mask = context->listMask;
    listingOutput.on = true;
    if ((mask & kListOneSidedBlocks) != 0) {
        listOneSidedBlock(context, &mask, kHostOnlyBits, &context->hostTop, HostDirOnly,
                          HostFileOnly);
        listOneSidedBlock(context, &mask, kAndroidOnlyBits, &context->androidTop, AndroidDirOnly,
                          AndroidFileOnly);
    }
    if ((mask & kStatusBits) != 0) {
        context->printedAny = 0;
        walkPair(context, mask, context->hostTop.firstChild, context->androidTop.firstChild);
        if (context->printedAny != 0) context->needBlankLine = 1;
    }
    flushListing();
    listingOutput.on = false;
}

void printSummary(SyncContext* context) {
    for (int status = DirsMatch; status < kStatusCount; ++status) {
        uint32_t count = context->statusCounts[status];
        if (count == 0) continue;
        char buffer[kSummaryChars];
        LineText line;
        beginLine(context, &line, buffer, sizeof buffer);
        placeText(&line, kCodeColumn, statusTable[status].listCode, 2);
        const char* label = statusTable[status].label;
        placeText(&line, kLabelColumn, label, strlen(label));
        char number[kNumberChars];
        formatThousands(count, number);
        size_t width = strlen(number);
        // A count too wide for the room after the label keeps one blank after it.
        size_t column = kCountEndColumn + 1 - width;
        size_t labelEnd = kLabelColumn + strlen(label);
        if (column <= labelEnd) column = labelEnd + 1;
        placeText(&line, column, number, width);
        appendText(&line, osLineEnd());
        writeLine(&line);
    }
}
