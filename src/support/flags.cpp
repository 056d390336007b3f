// The command-line flag parser: word grammar, response files, the compacted
// ParsedArgs block, and the checks, queries and conversions on it.
//
// Sections: block layout; word readers; parseCommandLine; checks; queries;
// conversions.
#include "support/flags.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/errors.h"

// clang-format off
const int8_t flagSlotMap[256] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0x00
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0x10
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0x20
     0,  1,  2,  3,  4,  5,  6,  7,  8,  9, -1, -1, -1, -1, -1, 36,  // 0x30 digits, '?'
    -1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,  // 0x40 'A'..'O'
    25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, -1, -1, -1, -1, -1,  // 0x50 'P'..'Z'
    -1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,  // 0x60 'a'..'o'
    25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, -1, -1, -1, -1, -1,  // 0x70 'p'..'z'
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0x80
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0x90
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xA0
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xB0
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xC0
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xD0
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xE0
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  // 0xF0
};
// clang-format on

// ---------------------------------------------------------------------------
// Block layout
// ---------------------------------------------------------------------------

namespace {

constexpr int kHelpSlot = 36;         // slot of '?'
constexpr size_t kMessageSize = 128;  // one formatted message
constexpr int32_t kArgPosStart = sizeof(ParsedArgs);
constexpr int32_t kTextStart = kArgPosStart + kMaxArguments * int32_t(sizeof(int32_t));
constexpr int32_t kTextEnd = kTextStart + kArgTextSize;  // also the parsing block's size

char* blockBytes(const ParsedArgs* args) {
    return reinterpret_cast<char*>(const_cast<ParsedArgs*>(args));
}

int32_t* argPos(const ParsedArgs* args) {
    return reinterpret_cast<int32_t*>(blockBytes(args) + kArgPosStart);
}

const char* textAt(const ParsedArgs* args, int32_t offset) {
    return blockBytes(args) + offset;
}

bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

int slotOf(char c) {
    return flagSlotMap[static_cast<unsigned char>(c)];
}

// The value offset of a given flag, or -1 when the character is no flag or the flag
// was not given.
int32_t givenFlag(const ParsedArgs* args, char c) {
    int slot = slotOf(c);
    if (slot < 0 || args->flagPos[slot] < 0) return -1;
    return args->flagPos[slot];
}

void message(const char* format, char first, char second = 0) {
    char text[kMessageSize];
    std::snprintf(text, sizeof text, format, first, second);
    reportMessage(text);
}

void messageNumber(const char* format, unsigned number) {
    char text[kMessageSize];
    std::snprintf(text, sizeof text, format, number);
    reportMessage(text);
}

bool textAreaFull(const ParsedArgs* args) {
    if (args->nextFree < kTextEnd) return false;
    reportMessage("Maximum number of argument characters exceeded");
    return true;
}

// Stores one text byte; false (after the message) when the text area is full.
bool storeByte(ParsedArgs* args, char c) {
    if (textAreaFull(args)) return false;
    blockBytes(args)[args->nextFree++] = c;
    return true;
}

const char* addPositional(ParsedArgs* args, const char* word, const char* end, WordMode mode) {
    if (args->argCount >= kMaxArguments) {
        reportMessage("Maximum number of arguments exceeded");
        return nullptr;
    }
    argPos(args)[args->argCount++] = args->nextFree;
    return copyWord(args, word, end, mode);
}

// A response file named by `length` bytes at `name` (not zero-terminated). A name that
// does not fit is refused like a file that cannot be opened.
bool expandResponseFile(ParsedArgs* args, SwitchTest isSwitch, const char* name, size_t length) {
    char fileName[kResponseNameSize];
    bool ok = length < sizeof fileName;
    if (ok) {
        std::memcpy(fileName, name, length);
        fileName[length] = 0;
        ok = readResponseFile(args, isSwitch, fileName);
    }
    if (!ok) reportMessage("Couldn't open response file");
    return ok;
}

// The raw command line: the parser's own grammar splits and unquotes it.
bool scanRawCommandLine(ParsedArgs* args, SwitchTest isSwitch, const char* raw) {
    const char* p = raw;
    const char* end = raw + std::strlen(raw);
    while (p < end) {
        char c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++p;
        } else if (c == '@') {
            const char* name = ++p;
            while (p < end && !isWhite(*p)) ++p;
            if (!expandResponseFile(args, isSwitch, name, size_t(p - name))) return false;
        } else {
            p = scanWord(args, isSwitch, p, end, kCommandLineMode);
            if (!p) return false;
        }
    }
    return true;
}

// argv words as the shell delivered them: each word whole, argv[0] always the
// program's name; "--help" stands for "-?".
bool scanArgvWords(ParsedArgs* args, SwitchTest isSwitch, int argc, char** argv) {
    static const char kHelpWord[] = "-?";
    for (int i = 0; i < argc; ++i) {
        const char* word = argv[i];
        const char* end = word + std::strlen(word);
        const char* next;
        if (i == 0) {
            next = addPositional(args, word, end, kWholeMode);
        } else if (word[0] == '@') {
            next = expandResponseFile(args, isSwitch, word + 1, size_t(end - word - 1)) ? end
                                                                                        : nullptr;
        } else if (std::strcmp(word, "--help") == 0) {
            next = scanWord(args, isSwitch, kHelpWord, kHelpWord + 2, kWholeMode);
        } else {
            next = scanWord(args, isSwitch, word, end, kWholeMode);
        }
        if (!next) return false;
    }
    return true;
}

// Moves the text down behind the argPos entries in use and shrinks the block.
ParsedArgs* compact(ParsedArgs* args) {
    int32_t shift = int32_t(sizeof(int32_t)) * (kMaxArguments - args->argCount);
    char* bytes = blockBytes(args);
    std::memmove(bytes + kTextStart - shift, bytes + kTextStart,
                 size_t(args->nextFree - kTextStart));
    args->nextFree -= shift;
    for (int32_t& pos : args->flagPos) {
        if (pos > 0) pos -= shift;
    }
    for (int i = 0; i < args->argCount; ++i) argPos(args)[i] -= shift;
    void* shrunk = std::realloc(args, size_t(args->nextFree));
    return shrunk ? static_cast<ParsedArgs*>(shrunk) : args;
}

}  // namespace

// ---------------------------------------------------------------------------
// Word readers
// ---------------------------------------------------------------------------

const char* scanWord(ParsedArgs* args, SwitchTest isSwitch, const char* word, const char* end,
                     WordMode mode) {
    if (!isSwitch(word[0])) return addPositional(args, word, end, mode);

    const char* p = word + 1;
    if (p == end || isWhite(*p)) {
        reportMessage("Command flag switch with no letter");
        return nullptr;
    }
    char letter = upper(*p);
    int slot = slotOf(*p);
    if (slot < 0) {
        message("Illegal command flag character %c", letter);
        return nullptr;
    }
    if (args->flagPos[slot] == -2) {
        message("Unknown command flag %c", letter);
        return nullptr;
    }
    if (args->flagPos[slot] >= 0) {
        message("Duplicate command flag %c", letter);
        return nullptr;
    }
    ++p;
    if (p != end && (*p == '=' || *p == ':')) ++p;
    args->flagPos[slot] = args->nextFree;
    return copyWord(args, p, end, mode);
}

const char* copyWord(ParsedArgs* args, const char* text, const char* end, WordMode mode) {
    const char* p = text;
    if (mode != kWholeMode && p != end && *p == '"') {
        ++p;
        for (;;) {
            if (textAreaFull(args)) return nullptr;
            if (p == end) {
                reportMessage("Terminating quote missing");
                return nullptr;
            }
            if (*p == '"') {
                if (p + 1 != end && p[1] == '"') {
                    storeByte(args, '"');
                    p += 2;
                    continue;
                }
                storeByte(args, 0);
                return p + 1;
            }
            storeByte(args, *p++);
        }
    }
    for (;;) {
        if (p == end) return storeByte(args, 0) ? p : nullptr;
        char c = *p;
        bool ends = mode != kWholeMode && (c == '\r' || c == '\n' ||
                                           (mode == kCommandLineMode && (c == ' ' || c == '\t')));
        if (!storeByte(args, ends ? 0 : c)) return nullptr;
        ++p;
        if (ends) return p;
    }
}

bool readResponseFile(ParsedArgs* args, SwitchTest isSwitch, const char* name) {
    MappedFile file{};
    if (!osMapFile(name, &file)) return false;
    const char* p = file.data;
    const char* end = file.data + file.size;
    bool ok = file.size > 0;
    while (ok) {
        while (p < end && isWhite(*p)) ++p;
        if (p == end) break;
        p = scanWord(args, isSwitch, p, end, kLineMode);
        ok = p != nullptr;
    }
    osUnmapFile(&file);
    return ok;
}

// ---------------------------------------------------------------------------
// parseCommandLine
// ---------------------------------------------------------------------------

ParsedArgs* parseCommandLine(const CommandSource& source, int minArgs, int maxArgs,
                             const char* letters, const char* usage, SwitchTest isSwitch) {
    auto* args = static_cast<ParsedArgs*>(std::malloc(size_t(kTextEnd)));
    if (!args) {
        reportMessage("Not enough memory for the command line");
        return nullptr;
    }
    args->nextFree = kTextStart;
    args->argCount = 0;
    for (int32_t& pos : args->flagPos) pos = -2;
    for (const char* l = letters ? letters : ""; *l; ++l) {
        if (slotOf(*l) >= 0) args->flagPos[slotOf(*l)] = -1;
    }
    if (usage) args->flagPos[kHelpSlot] = -1;

    bool ok = source.raw ? scanRawCommandLine(args, isSwitch, source.raw)
                         : scanArgvWords(args, isSwitch, source.argc, source.argv);
    if (ok && args->flagPos[kHelpSlot] >= 0) {
        reportMessage(usage);
        ok = false;
    } else if (ok && args->argCount < minArgs) {
        reportMessage(args->argCount == 1 && usage ? usage : "Not enough arguments supplied");
        ok = false;
    } else if (ok && args->argCount > maxArgs) {
        reportMessage("Too many arguments supplied");
        ok = false;
    }
    if (!ok) {
        std::free(args);
        return nullptr;
    }
    return compact(args);
}

void releaseArgs(ParsedArgs* args) {
    std::free(args);
}

// ---------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------

namespace {

// Releases the block of a failed check.
ParsedArgs* failCheck(ParsedArgs* args) {
    releaseArgs(args);
    return nullptr;
}

}  // namespace

ParsedArgs* rejectValues(ParsedArgs* args, const char* letters) {
    if (!args) return nullptr;
    for (const char* l = letters; *l; ++l) {
        int32_t pos = givenFlag(args, *l);
        if (pos >= 0 && *textAt(args, pos) != 0) {
            message("Flag %c does not take a value", *l);
            return failCheck(args);
        }
    }
    return args;
}

ParsedArgs* requireValues(ParsedArgs* args, const char* letters) {
    if (!args) return nullptr;
    for (const char* l = letters; *l; ++l) {
        int32_t pos = givenFlag(args, *l);
        if (pos >= 0 && *textAt(args, pos) == 0) {
            message("Flag %c must specify a value", *l);
            return failCheck(args);
        }
    }
    return args;
}

ParsedArgs* checkGroup(ParsedArgs* args, const char* letters, int mode) {
    if (!args) return nullptr;
    char firstGiven = 0;
    for (const char* l = letters; *l; ++l) {
        if (givenFlag(args, *l) < 0) continue;
        if (firstGiven && mode != 2) {
            message("Flags %c and %c are mutually exclusive", firstGiven, *l);
            return failCheck(args);
        }
        if (!firstGiven) firstGiven = *l;
    }
    if ((mode == 1 || mode == 2) && !firstGiven && letters[0]) {
        char text[kMessageSize] = "Flag";
        size_t length = std::strlen(text);
        for (const char* l = letters; *l && length + 24 < sizeof text; ++l) {
            const char* joint = l == letters ? " " : l[1] == 0 ? " or " : ", ";
            length += size_t(std::snprintf(text + length, sizeof text - length, "%s%c", joint, *l));
        }
        std::snprintf(text + length, sizeof text - length, " must be specified");
        reportMessage(text);
        return failCheck(args);
    }
    return args;
}

ParsedArgs* requireFlags(ParsedArgs* args, const char* ifAny, const char* thenAll) {
    if (!args) return nullptr;
    const char* given = ifAny;
    while (*given && givenFlag(args, *given) < 0) ++given;
    if (!*given) return args;
    for (const char* l = thenAll; *l; ++l) {
        if (givenFlag(args, *l) < 0) {
            message("Flag %c requires the use of flag %c", *given, *l);
            return failCheck(args);
        }
    }
    return args;
}

// ---------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------

namespace {

void copyOut(const char* text, char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    size_t length = std::strlen(text);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
}

const char* argumentText(const ParsedArgs* args, int index) {
    if (!args || index < 0 || index >= args->argCount) return nullptr;
    return textAt(args, argPos(args)[index]);
}

const char* flagText(const ParsedArgs* args, char flag) {
    if (!args) return nullptr;
    int32_t pos = givenFlag(args, flag);
    return pos < 0 ? nullptr : textAt(args, pos);
}

}  // namespace

int getArgument(const ParsedArgs* args, int index, char* buffer, size_t size) {
    const char* text = argumentText(args, index);
    if (!text) return 0;
    copyOut(text, buffer, size);
    return 1;
}

int getFlag(const ParsedArgs* args, char flag, char* buffer, size_t size) {
    const char* text = flagText(args, flag);
    if (!text) return 0;
    copyOut(text, buffer, size);
    return 1;
}

int countArguments(const ParsedArgs* args) {
    return args ? args->argCount : 0;
}

int countFlags(const ParsedArgs* args) {
    if (!args) return 0;
    int count = 0;
    for (int32_t pos : args->flagPos) count += pos >= 0;
    return count;
}

int parseOptions(const ParsedArgs* args, char flag, const OptionEntry* table, uint32_t* value) {
    if (!args || slotOf(flag) < 0) return 0;
    const char* text = flagText(args, flag);
    if (!text) return 1;
    if (!table || !value) return 0;
    uint32_t v = *value;
    if (*text == 0) {
        for (const OptionEntry* row = table; row->letter; ++row) {
            if (row->notDefault == 0) v |= row->bits;
        }
    }
    for (; *text; ++text) {
        char option = upper(*text);
        const OptionEntry* row = table;
        while (row->letter &&
               static_cast<unsigned char>(row->letter) != static_cast<unsigned char>(option)) {
            ++row;
        }
        if (!row->letter) {
            message("Flag %c has illegal option %c", flag, option);
            return 0;
        }
        if ((v & row->bits) == row->bits) {
            message("Flag %c has duplicate option %c", flag, row->letter);
            return 0;
        }
        v |= row->bits;
    }
    *value = v;
    return 1;
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

namespace {

template <typename T>
bool convertWhole(const char* text, T* value, int base) {
    const char* end = text + std::strlen(text);
    T result{};
    auto [ptr, ec] = std::from_chars(text, end, result, base);
    if (text == end || ec != std::errc() || ptr != end) return false;
    *value = result;
    return true;
}

bool convertReal(const char* text, double* value) {
    const char* end = text + std::strlen(text);
    double result = 0;
    auto [ptr, ec] = std::from_chars(text, end, result);
    if (text == end || ec != std::errc() || ptr != end) return false;
    *value = result;
    return true;
}

const char* skipHexPrefix(const char* text) {
    return (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? text + 2 : text;
}

}  // namespace

int getIntArgument(const ParsedArgs* args, int index, int32_t* value) {
    const char* text = argumentText(args, index);
    if (!text || !value) return 0;
    if (convertWhole(text, value, 10)) return 1;
    messageNumber("Argument #%u is not an integer", unsigned(index));
    return 0;
}

int getIntFlag(const ParsedArgs* args, char flag, int32_t* value) {
    const char* text = flagText(args, flag);
    if (!text || !value) return 0;
    if (*text == 0 || convertWhole(text, value, 10)) return 1;
    message("Flag %c is not an integer", flag);
    return 0;
}

int getHexArgument(const ParsedArgs* args, int index, uint32_t* value) {
    const char* text = argumentText(args, index);
    if (!text || !value) return 0;
    if (convertWhole(skipHexPrefix(text), value, 16)) return 1;
    messageNumber("Argument #%u is not hexadecimal", unsigned(index));
    return 0;
}

int getHexFlag(const ParsedArgs* args, char flag, uint32_t* value) {
    const char* text = flagText(args, flag);
    if (!text || !value) return 0;
    if (*text == 0 || convertWhole(skipHexPrefix(text), value, 16)) return 1;
    message("Flag %c is not hexadecimal", flag);
    return 0;
}

int getRealArgument(const ParsedArgs* args, int index, double* value) {
    const char* text = argumentText(args, index);
    if (!text || !value) return 0;
    if (convertReal(text, value)) return 1;
    messageNumber("Argument #%u is not floating point", unsigned(index));
    return 0;
}

int getRealFlag(const ParsedArgs* args, char flag, double* value) {
    const char* text = flagText(args, flag);
    if (!text || !value) return 0;
    if (*text == 0 || convertReal(text, value)) return 1;
    message("Flag %c is not floating point", flag);
    return 0;
}
