// Win32 back end: console text in the ANSI code page, process start-up with the
// unhandled-exception filter, and the message tables and version record of the executable.
//
// Sections: text and console; process, faults and messages. The command line and
// response files are in the _cmdline file.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Text and console
// ---------------------------------------------------------------------------

namespace {

constexpr size_t kMaxCharBytes = 8;    // one character in any ANSI code page, with slack
constexpr size_t kWholeCharUnits = 2;  // one character in UTF-16: a unit or a pair

bool writeHandle(DWORD which, const char* text, size_t length) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, text, static_cast<DWORD>(length), &written, nullptr) ||
            written == 0) {
            return false;
        }
        text += written;
        length -= written;
    }
    return true;
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

const char* osLineEnd() {
    return "\r\n";
}

char16_t osPathSeparator() {
    return u'\\';
}

bool osWriteStdout(const char* text, size_t length) {
    if (length == 0) {
        return true;
    }
    osCallConsoleHook(1, text, length);
    return writeHandle(STD_OUTPUT_HANDLE, text, length);
}

bool osWriteStderr(const char* text, size_t length) {
    if (length == 0) {
        return true;
    }
    osCallConsoleHook(2, text, length);
    return writeHandle(STD_ERROR_HANDLE, text, length);
}

bool osStderrNeedsLineBreak() {
    osCallConsoleHook(2, nullptr, 0);
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!GetConsoleScreenBufferInfo(handle, &info)) {
        return true;  // not a console: the last output may have left a line open
    }
    return info.dwCursorPosition.X > 0;
}

bool osStdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

uint32_t osTerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    // The window's width: never more than the buffer's, where a line wraps.
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<uint32_t>(columns) : 0;
}

bool osMessageBox(const char* text, const char* title) {
    MessageBoxA(nullptr, text, title, MB_OK);
    return true;
}

void osDebugOutput(const char* text) {
    OutputDebugStringA(text);
}

size_t osWideToNarrow(const char16_t* wide, char* out, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    const wchar_t* source = reinterpret_cast<const wchar_t*>(wide);
    int whole = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, -1, out,
                                    static_cast<int>(capacity), nullptr, nullptr);
    if (whole > 0) {
        return static_cast<size_t>(whole - 1);
    }
    // Too long: convert character by character and stop before one that does not fit.
    size_t length = 0;
    for (size_t i = 0; source[i] != 0;) {
        int units = isHighSurrogate(wide[i]) && isLowSurrogate(wide[i + 1]) ? 2 : 1;
        char bytes[kMaxCharBytes];
        int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source + i, units, bytes,
                                        sizeof bytes, nullptr, nullptr);
        if (count <= 0 || length + static_cast<size_t>(count) + 1 > capacity) {
            break;
        }
        memcpy(out + length, bytes, static_cast<size_t>(count));
        length += static_cast<size_t>(count);
        i += static_cast<size_t>(units);
    }
    out[length] = '\0';
    return length;
}

size_t osNarrowToWide(const char* narrow, char16_t* out, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    wchar_t* target = reinterpret_cast<wchar_t*>(out);
    int whole = MultiByteToWideChar(CP_ACP, 0, narrow, -1, target, static_cast<int>(capacity));
    if (whole > 0) {
        return static_cast<size_t>(whole - 1);
    }
    size_t length = 0;
    for (size_t i = 0; narrow[i] != 0;) {
        int bytes = IsDBCSLeadByte(static_cast<BYTE>(narrow[i])) && narrow[i + 1] != 0 ? 2 : 1;
        wchar_t units[kWholeCharUnits];
        int count = MultiByteToWideChar(CP_ACP, 0, narrow + i, bytes, units, kWholeCharUnits);
        if (count <= 0 || length + static_cast<size_t>(count) + 1 > capacity) {
            break;
        }
        memcpy(out + length, units, static_cast<size_t>(count) * sizeof(char16_t));
        length += static_cast<size_t>(count);
        i += static_cast<size_t>(bytes);
    }
    out[length] = 0;
    return length;
}

char16_t osUpperChar(char16_t c) {
    // CharUpperW takes a single character in the low word of its "string" argument.
    ULONG_PTR value = c;
    return static_cast<char16_t>(
        reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(value))));
}

// ---------------------------------------------------------------------------
// Process, faults and messages
// ---------------------------------------------------------------------------

namespace {

constexpr int kFaultExitCode = 2;
constexpr DWORD kOwnTableFlags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;
constexpr DWORD kSystemTableFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;
constexpr DWORD kModulePathSize = 256;             // the program's path for the version record
constexpr DWORD kDefaultTranslation = 0x040904E4;  // U.S. English, code page 1252
constexpr size_t kQueryKeySize = 64;               // "\StringFileInfo\XXXXXXXX\FileDescription"

void (*faultReport)(const ExceptionInfo* info);

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    ExceptionInfo info{};
    info.code = record->ExceptionCode;
    info.flags = record->ExceptionFlags;
    info.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    info.argCount = record->NumberParameters < 2 ? record->NumberParameters : 2;
    for (DWORD i = 0; i < info.argCount; ++i) {
        info.args[i] = record->ExceptionInformation[i];
    }
    if (faultReport) {
        faultReport(&info);
    }
    ExitProcess(kFaultExitCode);
}

}  // namespace

void osInitProcess(void (*report)(const ExceptionInfo* info)) {
    faultReport = report;
    // No system dialogs: a fault is reported by the program itself.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(onUnhandledException);
}

void osExitProcess(int code) {
    ExitProcess(static_cast<UINT>(code));
}

int osFormatOwnMessage(uint32_t code, const uintptr_t* args, char* out, size_t size) {
    va_list* inserts = reinterpret_cast<va_list*>(const_cast<uintptr_t*>(args));
    DWORD length = FormatMessageA(kOwnTableFlags, GetModuleHandleA(nullptr), code, 0, out,
                                  static_cast<DWORD>(size), inserts);
    return static_cast<int>(length);
}

int osFormatSystemMessage(uint32_t code, const uintptr_t* args, char* out, size_t size) {
    va_list* inserts = reinterpret_cast<va_list*>(const_cast<uintptr_t*>(args));
    DWORD length =
        FormatMessageA(kSystemTableFlags, nullptr, code, 0, out, static_cast<DWORD>(size), inserts);
    return static_cast<int>(length);
}

bool osFileDescription(char* out, size_t size) {
    char path[kModulePathSize];
    DWORD pathLength = GetModuleFileNameA(nullptr, path, sizeof path);
    if (pathLength == 0 || pathLength >= sizeof path) {
        return false;
    }
    DWORD ignored = 0;
    DWORD infoSize = GetFileVersionInfoSizeA(path, &ignored);
    if (infoSize == 0) {
        return false;
    }
    void* block = HeapAlloc(GetProcessHeap(), 0, infoSize);
    if (!block) {
        return false;
    }
    bool found = false;
    if (GetFileVersionInfoA(path, 0, infoSize, block)) {
        DWORD key = kDefaultTranslation;
        void* translation = nullptr;
        UINT translationSize = 0;
        if (VerQueryValueA(block, "\\VarFileInfo\\Translation", &translation, &translationSize) &&
            translationSize == 4) {
            const WORD* words = static_cast<const WORD*>(translation);
            key = (static_cast<DWORD>(words[0]) << 16) | words[1];
        }
        char query[kQueryKeySize];
        wsprintfA(query, "\\StringFileInfo\\%08X\\FileDescription", key);
        void* value = nullptr;
        UINT valueSize = 0;
        if (VerQueryValueA(block, query, &value, &valueSize) && value && size > 0) {
            lstrcpynA(out, static_cast<const char*>(value), static_cast<int>(size));
            found = true;
        }
    }
    HeapFree(GetProcessHeap(), 0, block);
    return found;
}
