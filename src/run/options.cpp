// The command line of tandrix: option-letter tables, usage text, and the filling of
// the SyncContext from the parsed flags and arguments.
#include "run/options.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

#include "hostfs/hostfs.h"
#include "messages_generated.h"
#include "run/context.h"
#include "support/encodings.h"
#include "support/errors.h"

// /h: what may be created or updated on the host.
const OptionEntry hostOptions[kHostOptionRows + 1] = {
    {'S', kCopyDirsHost, 1},    // S: create subdirectories
    {'C', kCopyCreateHost, 0},  // C: create files
    {'U', kCopyUpdateHost, 0},  // U: update files
    {0, 0, 0},
};

// /a: what may be created or updated on the device.
const OptionEntry androidOptions[kAndroidOptionRows + 1] = {
    {'S', kCopyDirsAndroid, 1},    // S: create subdirectories
    {'C', kCopyCreateAndroid, 0},  // C: create files
    {'U', kCopyUpdateAndroid, 0},  // U: update files
    {0, 0, 0},
};

// /l: which statuses are listed.
const OptionEntry listOptions[kListOptionRows + 1] = {
    // D: differences, one-sided entries, conflicts and newer files
    {'D', statusBits(HostDirOnly, AndroidDirConflict) | statusBits(HostFileOnly, AndroidFileNewer),
     1},
    // H: host only, in a block of their own
    {'H', kListOneSidedBlocks | statusBit(HostDirOnly) | statusBit(HostFileOnly), 1},
    // A: android only, in a block of their own
    {'A', kListOneSidedBlocks | statusBit(AndroidDirOnly) | statusBit(AndroidFileOnly), 1},
    // *: everything but ignored entries and copies
    {'*', statusBits(DirsMatch, AndroidDirConflict) | statusBits(FilesMatch, AndroidFileNewer), 0},
    {0, 0, 0},
};

namespace {

constexpr int kMinPositional = 3;      // program name, hostroot, androidroot
constexpr int kMaxPositional = 4;      // ... and altroot
constexpr size_t kUsageSize = 2048;    // the composed usage text
constexpr size_t kMessageSize = 1152;  // a message that may quote a root argument

// Usage lines as written for Windows; a '/' that begins a line or follows a blank
// and stands before a letter or digit is a switch and becomes the platform's switch
// character.
const char* const kUsageLines[] = {
    "tandrix - compares a host directory tree with an Android device through ADB",
    "Usage:  tandrix [flags] hostroot androidroot [altroot]",
    "",
    "/h  update host",
    "/a  update android",
    "/s  search subdirectories",
    "/l  list all files or d (differences), h (host only), a (android only)",
    "/i  ignore files in pattern list",
    "/o  only files in pattern list",
    "/d  device name",
    "/v  verbose",
    "/q  quiet",
    "/0  one hour differences are considered same",
    "/1  use 1 second resolution (ext*)",
    "/2  use 2 second resolution (vfat)",
    "",
    "/h and /a use s (create subdirs), c (create files), u (update files), default=cu.",
    "Pattern lists are *? format, semicolon delimited.",
    "/n  dry run: list the copies a run would make, copy nothing",
    "A pattern ending in / leaves folders out; one with / inside matches the path.",
    "/k  keep going past files that cannot be copied, list them at the end",
};
static_assert(sizeof kUsageLines / sizeof kUsageLines[0] == 21, "usage text has 21 lines");

bool isSwitchUse(const char* text, const char* at) {
    bool starts = at == text || at[-1] == ' ' || at[-1] == '\n' || at[-1] == '\r';
    char next = at[1];
    return starts && ((next >= 'a' && next <= 'z') || (next >= '0' && next <= '9') || next == '?');
}

struct ArgsRelease {
    void operator()(ParsedArgs* args) const { releaseArgs(args); }
};
using ArgsHolder = std::unique_ptr<ParsedArgs, ArgsRelease>;

// A text cut to fit would name something else (another directory, another device,
// other patterns), so a text that does not fit is refused: "WHAT is longer than N bytes".
bool copyWhole(const char* text, char* out, size_t size, const char* what) {
    size_t length = std::strlen(text);
    if (length >= size) {
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "%s is longer than %u bytes", what,
                      unsigned(size - 1));
        reportMessage(message);
        return false;
    }
    std::memcpy(out, text, length + 1);
    return true;
}

bool takeArgument(const ParsedArgs* args, int index, char* out, size_t size) {
    char text[kRootArgumentSize + 1];
    getArgument(args, index, text, sizeof text);
    char what[32];
    std::snprintf(what, sizeof what, "Argument #%d", index);
    return copyWhole(text, out, size, what);
}

bool takeFlagValue(const ParsedArgs* args, char flag, char* out, size_t size) {
    char text[kPatternValueBytes + 1];
    getFlag(args, flag, text, sizeof text);
    char what[32];
    std::snprintf(what, sizeof what, "Flag %c value", flag);
    return copyWhole(text, out, size, what);
}

bool given(const ParsedArgs* args, char flag) {
    return getFlag(args, flag, nullptr, 0) != 0;
}

void reportRoot(const char* format, const char* argument) {
    char message[kMessageSize];
    std::snprintf(message, sizeof message, format, argument);
    reportMessage(message);
}

// The three roots; a host or alternative root that cannot be normalised is refused,
// since an empty one would put files relative to the current directory.
bool readRoots(SyncContext* context, const ParsedArgs* args) {
    char argument[kRootArgumentSize];
    if (!takeArgument(args, 1, argument, sizeof argument)) return false;
    if (!normaliseHostRoot(argument, context->hostRoot)) {
        reportRoot("Host root %s cannot be used", argument);
        return false;
    }
    if (!takeArgument(args, 2, argument, sizeof argument)) return false;
    normaliseDeviceRoot(argument, context->androidRoot);
    // A normalised device root begins with '/'; an empty one would put pushed files
    // at the top of the device.
    if (context->androidRoot[0] == 0) {
        reportRoot("Android root %s cannot be used", argument);
        return false;
    }
    if (getArgument(args, 3, nullptr, 0)) {
        if (!takeArgument(args, 3, argument, sizeof argument)) return false;
        if (!normaliseHostRoot(argument, context->altRoot)) {
            reportRoot("Alternative root %s cannot be used", argument);
            return false;
        }
    } else {
        std::memcpy(context->altRoot, context->hostRoot, sizeof context->altRoot);
    }
    return true;
}

// /i and /o: heap-allocated pattern lists (may raise on a failed reservation).
bool readPatternList(SyncContext* context, const ParsedArgs* args, char flag, PatternList** list) {
    if (!given(args, flag)) return true;
    char value[kPatternValueBytes];
    if (!takeFlagValue(args, flag, value, sizeof value)) return false;
    *list = parsePatternList(&context->heap, value);
    return true;
}

}  // namespace

const char* usageText() {
    static char text[kUsageSize];
    if (text[0]) return text;
    size_t length = 0;
    for (const char* line : kUsageLines) {
        int n = std::snprintf(text + length, sizeof text - length, "%s%s", line, osLineEnd());
        if (n < 0 || size_t(n) >= sizeof text - length) break;  // the lines that fit, whole
        length += size_t(n);
    }
    for (char* c = text; *c != 0; ++c) {
        if (*c == '/' && isSwitchUse(text, c)) *c = osUsageSwitch();
    }
    return text;
}

namespace {

// A pattern of an /o list that holds a '/': /o takes file names only, so a folder or
// path pattern there is refused, naming it.
bool checkOnlyList(const ParsedArgs* args) {
    char value[kPatternValueBytes + 1];
    if (getFlag(args, 'O', value, sizeof value) == 0) return true;
    const char* cursor = value;
    PatternEntry entry;
    while (nextPatternEntry(&cursor, &entry)) {
        if (std::memchr(entry.text, '/', entry.bytes) == nullptr) continue;
        char pattern[kPatternValueBytes];
        std::memcpy(pattern, entry.text, entry.bytes);
        makeDisplaySafeBytes(pattern, entry.bytes);
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "Flag O takes no folder or path pattern: %s",
                      pattern);
        reportMessage(message);
        return false;
    }
    return true;
}

// --help and --version among the argv words (the raw Windows command line has none).
int answerLongOption(const CommandSource& source) {
    if (source.raw != nullptr) return 0;
    for (int i = 1; i < source.argc; ++i) {
        const char* word = source.argv[i];
        if (std::strcmp(word, "--help") == 0) {
            const char* usage = usageText();
            osWriteStdout(usage, std::strlen(usage));
            return kCommandAnswered;
        }
        if (std::strcmp(word, "--version") == 0) {
            char text[64];
            int n = std::snprintf(text, sizeof text, "tandrix %s%s", programVersion, osLineEnd());
            osWriteStdout(text, size_t(n));
            return kCommandAnswered;
        }
    }
    return 0;
}

}  // namespace

int readCommandLine(SyncContext* context, const CommandSource& source) {
    static_assert(std::is_trivially_copyable_v<SyncContext>, "the context is zero-filled");
    std::memset(static_cast<void*>(context), 0, sizeof *context);
    // The run's one region, reserved before the pattern lists take their share of it
    // (raises when it cannot be reserved).
    heapInit(&context->heap, kRunHeapSize);
    if (answerLongOption(source) != 0) return kCommandAnswered;

    ParsedArgs* checked =
        parseCommandLine(source, kMinPositional, kMaxPositional, "ADEHIKLNOQSV012", usageText());
    checked = rejectValues(checked, "EKNQSV012");
    checked = requireValues(checked, "DIO");
    checked = checkGroup(checked, "AHL", 2);
    checked = checkGroup(checked, "DE", 0);
    checked = checkGroup(checked, "12", 0);
    if (!checked) return 1;
    ArgsHolder args(checked);

    if (!readRoots(context, args.get())) return 1;

    context->conn.localOnly = given(args.get(), 'E');
    if (given(args.get(), 'D') &&
        !takeFlagValue(args.get(), 'D', context->conn.serial, sizeof context->conn.serial)) {
        return 1;
    }
    context->recurse = given(args.get(), 'S');
    context->keepGoing = given(args.get(), 'K');

    if (!parseOptions(args.get(), 'H', hostOptions, &context->copyFlags) ||
        !parseOptions(args.get(), 'A', androidOptions, &context->copyFlags)) {
        return 1;
    }

    if (!readPatternList(context, args.get(), 'I', &context->ignoreList) ||
        !readPatternList(context, args.get(), 'O', &context->onlyList) ||
        !checkOnlyList(args.get())) {
        return 1;
    }

    context->oneHourSame = given(args.get(), '0');
    context->timeRounding = given(args.get(), '1') ? 1 : 4;

    context->dryRun = given(args.get(), 'N');
    context->showProgress = !given(args.get(), 'Q');
    context->listMask = given(args.get(), 'Q') ? 0 : kListDefault;
    if (!parseOptions(args.get(), 'L', listOptions, &context->listMask)) return 1;
    if (given(args.get(), 'V')) context->listMask |= kListSummary;
    context->needBlankLine = (context->listMask & ~kListDefault) != 0;
    return 0;
}
