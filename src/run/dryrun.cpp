// The dry run: the copy passes' walks and lines without the copies, and the totals.
#include "run/dryrun.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "run/context.h"
#include "run/copyplan.h"
#include "run/listing.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

constexpr size_t kCountsBytes = 96;   // "N files (N bytes)" with the widest numbers
constexpr size_t kTotalsBytes = 256;  // the totals line: two of them and the words

// "3 files (1,234 bytes)", with the singular for one.
void describe(uint64_t files, uint64_t bytes, char* out, size_t size) {
    char fileText[kWideNumberChars];
    char byteText[kWideNumberChars];
    formatThousands64(files, fileText);
    formatThousands64(bytes, byteText);
    std::snprintf(out, size, "%s %s (%s %s)", fileText, files == 1 ? "file" : "files", byteText,
                  bytes == 1 ? "byte" : "bytes");
}

// One pass's walk: the line of every file the pass would copy, in its order.
void dryPass(SyncContext* context, const FileNode* top, bool push) {
    context->printedAny = 0;
    for (const FileNode* node = top->firstChild; node != nullptr; node = nextNode(node)) {
        if (!(push ? isPushed(context, node) : isPulled(context, node))) continue;
        if (!(push ? pushPathsFit(context, node) : pullPathsFit(context, node))) {
            reportSkipped(node, kPathTooLong);
            continue;
        }
        int status = push ? (node->partner ? UpdatedOnAndroid : CreatedOnAndroid)
                          : (node->partner ? UpdatedOnHost : CreatedOnHost);
        writeDryCopyLine(context, status, node, node->partner);
    }
    if (context->printedAny != 0) context->needBlankLine = 1;
}

}  // namespace

void dryRunPasses(SyncContext* context) {
    dryPass(context, &context->hostTop, true);
    dryPass(context, &context->androidTop, false);

    CopyTotals totals;
    countCopies(context, &totals);
    char pushed[kCountsBytes];
    char pulled[kCountsBytes];
    describe(totals.pushFiles, totals.pushBytes, pushed, sizeof pushed);
    describe(totals.pullFiles, totals.pullBytes, pulled, sizeof pulled);
    const char* end = osLineEnd();
    char line[kTotalsBytes];
    std::snprintf(line, sizeof line, "%sDry run: %s to push, %s to pull%s",
                  context->needBlankLine != 0 ? end : "", pushed, pulled, end);
    osWriteStdout(line, std::strlen(line));
    // A block of its own: the summary comes after an empty line.
    context->needBlankLine = 1;
}
