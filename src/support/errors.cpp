// Fatal errors: raising a SyncError with its one text argument, and turning a raise
// or a hardware fault into the message-table text written to standard error.
//
// Everything on the reporting path formats by hand (no stdio, no allocation): it
// also runs inside the POSIX fault handler, where only async-signal-safe calls are allowed.
#include "support/errors.h"

#include "support/encodings.h"

#include <cstring>

namespace {

char errorText[kErrorTextSize];  // the text argument of the last raise
uintptr_t errorArgs[2];          // errorArgs[0] holds the address of errorText

// One formatted fatal message: the longest text argument and the longest frame
// around it, so a message is never cut.
constexpr size_t kMessageFrameBytes = 256;
constexpr size_t kReportBufferSize = kErrorTextSize + kMessageFrameBytes;
constexpr size_t kFileDescriptionSize = 256;  // the version record's FileDescription
constexpr int kHexDigits = 8;                 // minimum width of a hexadecimal insert
constexpr uint32_t kNonContinuable = 1;       // EXCEPTION_NONCONTINUABLE

constexpr uint32_t kAccessViolation = 0xC0000005;

// Exception codes that end the run even when raised continuable.
constexpr uint32_t kFatalCodes[] = {
    0x80000003,  // breakpoint
    0xC0000005,  // access violation
    0xC000008E,  // floating-point division by zero
    0xC0000090,  // floating-point invalid operation
    0xC0000094,  // integer division by zero
    0xC00000FD,  // stack overflow
};
static_assert(sizeof(kFatalCodes) / sizeof(kFatalCodes[0]) == 6, "six codes always end the run");

// Bounded writer into a caller's buffer; keeps room for the terminator.
struct TextOut {
    char* out;
    size_t size;
    size_t length;
};

void putChar(TextOut* text, char c) {
    if (text->length + 1 < text->size) {
        text->out[text->length++] = c;
    }
}

void putText(TextOut* text, const char* s) {
    while (*s) {
        putChar(text, *s++);
    }
}

// Upper-case hexadecimal, at least `minDigits` digits, more when the value needs them.
void putHex(TextOut* text, uint64_t value, int minDigits) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (int i = count; i < minDigits; ++i) {
        putChar(text, '0');
    }
    while (count > 0) {
        putChar(text, digits[--count]);
    }
}

size_t finish(TextOut* text) {
    if (text->size > 0) {
        text->out[text->length] = '\0';
    }
    return text->length;
}

const MessageRow* findMessage(uint32_t code) {
    for (const MessageRow& row : messageTable) {
        if (row.code == code) {
            return &row;
        }
    }
    return nullptr;
}

// The program's own table: the module's resource where there is one, else the
// compiled-in rows.
int formatOwnMessage(uint32_t code, const uintptr_t* args, char* out, size_t size) {
    int length = osFormatOwnMessage(code, args, out, size);
    if (length < 0) {
        length = formatTableMessage(code, args, out, size);
    }
    return length;
}

bool isFatalCode(uint32_t code) {
    for (uint32_t fatal : kFatalCodes) {
        if (fatal == code) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void throwSyncError(uint32_t code, uint32_t argCount, void* address) {
    throw SyncError{code, argCount, reinterpret_cast<uintptr_t>(address)};
}

}  // namespace

[[gnu::noinline]] void raiseError(uint32_t code) {
    throwSyncError(code, 0, __builtin_return_address(0));
}

const char* raisedText() {
    return errorText;
}

[[gnu::noinline]] void raiseErrorText(uint32_t code, const char* text) {
    raiseErrorBytes(code, text ? text : "", text ? strnlen(text, kErrorTextSize - 1) : 0);
}

[[gnu::noinline]] void raiseErrorWide(uint32_t code, const char16_t* text) {
    osWideToNarrow(text, errorText, kErrorTextSize);
    makeDisplaySafeBytes(errorText, strlen(errorText));
    errorArgs[0] = reinterpret_cast<uintptr_t>(errorText);
    throwSyncError(code, 1, __builtin_return_address(0));
}

[[gnu::noinline]] void raiseErrorBytes(uint32_t code, const char* bytes, size_t length) {
    if (length > kErrorTextSize - 1) length = kErrorTextSize - 1;
    memmove(errorText, bytes, length);
    makeDisplaySafeBytes(errorText, length);  // whatever it names, nothing raw reaches the console
    errorArgs[0] = reinterpret_cast<uintptr_t>(errorText);
    throwSyncError(code, 1, __builtin_return_address(0));
}

ExceptionInfo syncErrorInfo(const SyncError& error) {
    ExceptionInfo info{};
    info.code = error.code;
    info.flags = kNonContinuable;
    info.address = error.address;
    info.argCount = error.argCount;
    if (error.argCount > 0) {
        info.args[0] = errorArgs[0];
        info.args[1] = errorArgs[1];
    }
    return info;
}

int formatTableMessage(uint32_t code, const uintptr_t* args, char* out, size_t size) {
    const MessageRow* row = findMessage(code);
    if (!row || size == 0) {
        return 0;
    }
    TextOut text{out, size, 0};
    for (const char* p = row->text; *p; ++p) {
        if (p[0] != '%' || (p[1] != '1' && p[1] != '2')) {
            putChar(&text, *p);
            continue;
        }
        uintptr_t value = args ? args[p[1] - '1'] : 0;
        if (strncmp(p + 2, "!08X!", 5) == 0) {
            putHex(&text, value, kHexDigits);
            p += 6;
        } else {
            // A string insert; a missing argument inserts nothing.
            if (value != 0) {
                putText(&text, reinterpret_cast<const char*>(value));
            }
            p += 1;
        }
    }
    putText(&text, osLineEnd());
    return static_cast<int>(finish(&text));
}

int formatExceptionText(const ExceptionInfo* info, char* out, size_t size) {
    uint32_t raisedCode = info->code;

    // A trace for a debugger; the steps below overwrite the buffer.
    TextOut trace{out, size, 0};
    putText(&trace, "Code=");
    putHex(&trace, raisedCode, kHexDigits);
    putText(&trace, ", Addr=");
    putHex(&trace, info->address, kHexDigits);
    finish(&trace);
    osDebugOutput(out);

    bool handle = (info->flags & kNonContinuable) != 0;
    if (!handle && isFatalCode(raisedCode)) {
        handle = true;
    }

    // Arguments the record does not carry read as zero.
    uintptr_t args[2] = {0, 0};
    for (uint32_t i = 0; i < info->argCount && i < 2; ++i) {
        args[i] = info->args[i];
    }

    uint32_t code = raisedCode;
    if (code == kAccessViolation && info->argCount >= 1) {
        if (args[0] == 0) {
            code = ERR_READ_ACCESS;
        } else if (args[0] == 1) {
            code = ERR_WRITE_ACCESS;
        }
    }

    if (formatOwnMessage(code, args, out, size) > 0) {
        return handle ? 1 : -1;
    }
    if (osFormatSystemMessage(code, args, out, size) > 0) {
        return handle ? 1 : -1;
    }
    uintptr_t unknownArgs[2] = {raisedCode, info->address};
    if (formatOwnMessage(ERR_UNKNOWN, unknownArgs, out, size) <= 0) {
        TextOut text{out, size, 0};
        putText(&text, "No message table in executable for ");
        putHex(&text, code, kHexDigits);
        putText(&text, osLineEnd());
        finish(&text);
    }
    return 1;
}

int reportException(const ExceptionInfo* info) {
    char message[kReportBufferSize];
    int verdict = formatExceptionText(info, message, sizeof message);
    reportMessage(message);
    return verdict;
}

void reportMessage(const char* text) {
    if (!text || !*text) {
        return;
    }
    const char* lineEnd = osLineEnd();
    if (osStderrNeedsLineBreak()) {
        osWriteStderr(lineEnd, strlen(lineEnd));
    }
    size_t length = strlen(text);
    bool written = osWriteStderr(text, length);
    if (text[length - 1] != '\n') {
        osWriteStderr(lineEnd, strlen(lineEnd));
    }
    if (written) {
        return;
    }
    char title[kFileDescriptionSize];
    if (!getFileDescription(title)) {
        strcpy(title, "Application");
    }
    osMessageBox(text, title);
}

bool getFileDescription(char* out) {
    return osFileDescription(out, kFileDescriptionSize);
}
