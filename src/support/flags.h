// The command-line flag parser: turns the command line (and the response files it
// names) into one self-contained ParsedArgs block of positional arguments and
// single-character flags with their value texts, and the checks and queries on it.
//
// Every problem is written as one line through reportMessage and makes the operation
// return null or 0. The checks take the block and return it, or release it and return
// null after their message; given null they return null, so a caller can chain them.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr int kFlagSlots = 37;             // '0'-'9', 'A'-'Z' (either case), '?'
constexpr int kMaxArguments = 8192;        // positional arguments while parsing
constexpr int kArgTextSize = 65536;        // bytes of argument text, terminators included
constexpr size_t kResponseNameSize = 256;  // response-file name, terminator included

// The header of the block. It is followed, in the same allocation, by the argPos
// entries (int32_t each; room for kMaxArguments while parsing, argCount after) and
// then by the text area. Every position is a byte offset from the block's start, so
// the block can be compacted and moved by realloc without fixing pointers.
struct ParsedArgs {
    int32_t nextFree;             // first free text byte; after compaction the block size
    int32_t argCount;             // positional arguments, the program's name is #0
    int32_t flagPos[kFlagSlots];  // -2 not a flag here, -1 not given, else value offset
};

// One row of an option-letter table; a row whose letter is 0 ends the table.
struct OptionEntry {
    char letter;          // upper case
    uint32_t bits;        // what the letter contributes
    uint32_t notDefault;  // 0: taken when the flag has no value
};

// Flag slot of each byte value, -1 for bytes that cannot be flags.
extern const int8_t flagSlotMap[256];

// Which characters begin a flag (osIsSwitchChar for the process's own command line).
using SwitchTest = bool (*)(char c);

// How copyWord reads a word.
enum WordMode {
    kCommandLineMode,  // raw command line: quoting; space, tab, CR and LF end a word
    kLineMode,         // response file: quoting; only CR and LF end a word
    kWholeMode         // one argv word taken whole: no quoting, only its end ends it
};

// Reads the words of `source` and returns the compacted block, or null after a
// message (or the usage text). minArgs and maxArgs count the program's name; `usage`
// may be null, otherwise "?" is a flag and the usage text answers it.
ParsedArgs* parseCommandLine(const CommandSource& source, int minArgs, int maxArgs,
                             const char* letters, const char* usage,
                             SwitchTest isSwitch = osIsSwitchChar);
void releaseArgs(ParsedArgs* args);

// The word readers, on a block that is still being filled (full size). Each returns
// where the scan goes on, or null after its message. `end` is the end of the input.
const char* scanWord(ParsedArgs* args, SwitchTest isSwitch, const char* word, const char* end,
                     WordMode mode);
const char* copyWord(ParsedArgs* args, const char* text, const char* end, WordMode mode);
// Reads the words of a response file in line mode; false after a failed word's
// message or when the file cannot be opened or mapped (no message of its own).
bool readResponseFile(ParsedArgs* args, SwitchTest isSwitch, const char* name);

// Checks (release the block and return null on failure).
ParsedArgs* rejectValues(ParsedArgs* args, const char* letters);
ParsedArgs* requireValues(ParsedArgs* args, const char* letters);
// mode 0: at most one of the letters, 1: exactly one, 2: at least one.
ParsedArgs* checkGroup(ParsedArgs* args, const char* letters, int mode);
// Not used by the run.
ParsedArgs* requireFlags(ParsedArgs* args, const char* ifAny, const char* thenAll);

// Queries. With a buffer, the text is cut to size - 1 bytes and zero-terminated.
int getArgument(const ParsedArgs* args, int index, char* buffer, size_t size);
int getFlag(const ParsedArgs* args, char flag, char* buffer, size_t size);
int countArguments(const ParsedArgs* args);  // not used by the run
int countFlags(const ParsedArgs* args);      // not used by the run
// ORs the option letters of a flag's value (or the table's default rows when the
// value is empty) into *value; 1 on success or when the flag was not given.
int parseOptions(const ParsedArgs* args, char flag, const OptionEntry* table, uint32_t* value);

// Conversions of a whole argument or flag value, not used by the run: 1 on success,
// 0 after a message (or without one when the argument or flag is missing). An empty
// flag value succeeds and leaves *value untouched.
int getIntArgument(const ParsedArgs* args, int index, int32_t* value);
int getIntFlag(const ParsedArgs* args, char flag, int32_t* value);
int getHexArgument(const ParsedArgs* args, int index, uint32_t* value);
int getHexFlag(const ParsedArgs* args, char flag, uint32_t* value);
int getRealArgument(const ParsedArgs* args, int index, double* value);
int getRealFlag(const ParsedArgs* args, char flag, double* value);
