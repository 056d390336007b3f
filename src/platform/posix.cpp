// POSIX back end: text and console, process start-up and fault reporting, and the
// message lookups.
//
// Sections: text and console; process, faults and messages. The command line and
// response files are in the _cmdline file.
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "messages_generated.h"
#include "platform/platform.h"
#include "platform/posix_utf8.h"

// ---------------------------------------------------------------------------
// Text and console
// ---------------------------------------------------------------------------

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;  // stands for an invalid UTF-8 byte

// Set when the last byte written to standard output did not end a line, so that a
// message to standard error starts on a line of its own (a copy line still open).
volatile sig_atomic_t stdoutLineOpen = 0;

bool writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Upper-case mappings beyond ASCII, as CharUpperW gives them: a range maps by a fixed
// offset, or alternates upper and lower case letters. Letters whose capital does not
// map back (micro sign, dotless i, long s, final sigma) stay, as they do there.
struct UpperRange {
    char16_t first;
    char16_t last;  // last lower-case letter of the range
    int32_t delta;  // added to a lower-case letter; 0 for alternating pairs
    bool oddLower;  // alternating pairs: the lower-case letter is at an odd code
};

constexpr UpperRange kUpperRanges[] = {
    {0x00E0, 0x00FE, -0x20, false},  // Latin-1 à..þ (÷ excluded below)
    {0x00FF, 0x00FF, 0x79, false},   // ÿ -> Ÿ
    {0x0101, 0x012F, 0, true},       // Latin Extended-A Ā ā .. Į į
    {0x0133, 0x0137, 0, true},       // Ĳ ĳ .. Ķ ķ
    {0x013A, 0x0148, 0, false},      // Ĺ ĺ .. Ň ň
    {0x014B, 0x0177, 0, true},       // Ŋ ŋ .. Ŷ ŷ
    {0x017A, 0x017E, 0, false},      // Ź ź .. Ž ž
    {0x03AC, 0x03AC, -0x26, false},  // ά -> Ά
    {0x03AD, 0x03AF, -0x25, false},  // έ ή ί
    {0x03B1, 0x03C1, -0x20, false},  // α..ρ
    {0x03C3, 0x03CB, -0x20, false},  // σ..ϋ
    {0x03CC, 0x03CC, -0x40, false},  // ό -> Ό
    {0x03CD, 0x03CE, -0x3F, false},  // ύ ώ
    {0x0430, 0x044F, -0x20, false},  // Cyrillic а..я
    {0x0450, 0x045F, -0x50, false},  // ѐ..џ
    {0x0461, 0x0481, 0, true},       // Ѡ ѡ .. Ҁ ҁ
    {0x048B, 0x04BF, 0, true},       // Ҋ ҋ .. Ҿ ҿ
    {0x04C2, 0x04CE, 0, false},      // Ӂ ӂ .. Ӎ ӎ
    {0x04CF, 0x04CF, -0x0F, false},  // ӏ -> Ӏ
    {0x04D1, 0x052F, 0, true},       // Ӑ ӑ .. Ԯ ԯ
};
static_assert(sizeof(kUpperRanges) / sizeof(kUpperRanges[0]) == 20, "upper-case ranges");

}  // namespace

const char* osLineEnd() {
    return "\n";
}

char16_t osPathSeparator() {
    return u'/';
}

bool osWriteStdout(const char* text, size_t length) {
    if (length == 0) {
        return true;
    }
    osCallConsoleHook(1, text, length);
    if (!writeAll(STDOUT_FILENO, text, length)) {
        return false;
    }
    // A carriage return at the end leaves the cursor in column 0 too (the status line).
    stdoutLineOpen = text[length - 1] != '\n' && text[length - 1] != '\r';
    return true;
}

bool osWriteStderr(const char* text, size_t length) {
    if (length == 0) {
        return true;
    }
    osCallConsoleHook(2, text, length);
    if (!writeAll(STDERR_FILENO, text, length)) {
        return false;
    }
    // Like a console cursor back in column 0: one line break per open line is enough.
    if (text[length - 1] == '\n') {
        stdoutLineOpen = 0;
    }
    return true;
}

bool osStderrNeedsLineBreak() {
    osCallConsoleHook(2, nullptr, 0);
    return stdoutLineOpen != 0;
}

bool osStdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

uint32_t osTerminalColumns() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

bool osMessageBox(const char*, const char*) {
    return false;
}

void osDebugOutput(const char*) {}

size_t osWideToNarrow(const char16_t* wide, char* out, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    size_t length = 0;
    for (size_t i = 0; wide[i] != 0;) {
        char32_t c = posixutf8::nextWide(wide, &i);
        if (c == posixutf8::kInvalid) {
            c = '?';  // a lone surrogate has no UTF-8 form
        }
        char bytes[posixutf8::kMaxBytes];
        size_t count = posixutf8::encode(c, bytes);
        if (length + count + 1 > capacity) {
            break;  // cut before a character that does not fit whole
        }
        memcpy(out + length, bytes, count);
        length += count;
    }
    out[length] = '\0';
    return length;
}

size_t osNarrowToWide(const char* narrow, char16_t* out, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    const unsigned char* s = reinterpret_cast<const unsigned char*>(narrow);
    size_t length = 0;
    while (*s) {
        size_t used;
        char32_t c = posixutf8::decode(s, &used);
        if (c == posixutf8::kInvalid) {
            c = kReplacementChar;
        }
        if (!posixutf8::putWide(c, out, &length, capacity)) {
            break;
        }
        s += used;
    }
    out[length] = 0;
    return length;
}

char16_t osUpperChar(char16_t c) {
    if (c < 0x80) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    }
    if (c == 0x00F7) {
        return c;  // division sign
    }
    for (const UpperRange& range : kUpperRanges) {
        if (c < range.first || c > range.last) {
            continue;
        }
        if (range.delta != 0) {
            return static_cast<char16_t>(c + range.delta);
        }
        bool isLower = ((c & 1) != 0) == range.oddLower;
        return isLower ? static_cast<char16_t>(c - 1) : c;
    }
    return c;
}

// ---------------------------------------------------------------------------
// Process, faults and messages
// ---------------------------------------------------------------------------

namespace {

constexpr size_t kSignalStackSize = 64 * 1024;  // the fault handler runs here (stack overflow)
constexpr uint32_t kCodeAccessViolation = 0xC0000005;
constexpr uint32_t kCodeFloatDivideByZero = 0xC000008E;
constexpr uint32_t kCodeFloatInvalid = 0xC0000090;
constexpr uint32_t kCodeIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kCodeIntegerOverflow = 0xC0000095;
constexpr int kFaultExitCode = 2;

alignas(16) unsigned char signalStack[kSignalStackSize];
void (*faultReport)(const ExceptionInfo* info);

uintptr_t faultInstruction(const void* context, const siginfo_t* si) {
    (void)si;
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__linux__) && defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__linux__) && defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__linux__) && defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return si->si_signo == SIGFPE ? reinterpret_cast<uintptr_t>(si->si_addr) : 0;
#endif
}

// 1 when the faulting access was a write, 0 for a read or when the CPU does not say.
uintptr_t faultWasWrite(const void* context) {
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
    constexpr unsigned long kPageFaultWrite = 2;  // bit 1 of the x86 page-fault error code
    return (static_cast<unsigned long>(uc->uc_mcontext.gregs[REG_ERR]) & kPageFaultWrite) ? 1 : 0;
#else
    (void)context;
    return 0;
#endif
}

// Async-signal-safe: builds the record on the stack, lets the report write it, leaves.
void onFault(int signo, siginfo_t* si, void* context) {
    ExceptionInfo info{};
    info.address = faultInstruction(context, si);
    if (signo == SIGFPE) {
        switch (si->si_code) {
        case FPE_INTDIV:
            info.code = kCodeIntegerDivideByZero;
            break;
        case FPE_INTOVF:
            info.code = kCodeIntegerOverflow;
            break;
        case FPE_FLTDIV:
            info.code = kCodeFloatDivideByZero;
            break;
        default:
            info.code = kCodeFloatInvalid;
            break;
        }
    } else {
        info.code = kCodeAccessViolation;
        info.argCount = 2;
        info.args[0] = faultWasWrite(context);
        info.args[1] = reinterpret_cast<uintptr_t>(si->si_addr);
    }
    if (faultReport) {
        faultReport(&info);
    }
    _exit(kFaultExitCode);
}

}  // namespace

void osInitProcess(void (*report)(const ExceptionInfo* info)) {
    signal(SIGPIPE, SIG_IGN);
    faultReport = report;

    stack_t stack{};
    stack.ss_sp = signalStack;
    stack.ss_size = sizeof signalStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE};
    for (int signo : kFaultSignals) {
        sigaction(signo, &action, nullptr);
    }
}

void osExitProcess(int code) {
    fflush(nullptr);
    _exit(code);
}

int osFormatOwnMessage(uint32_t, const uintptr_t*, char*, size_t) {
    return -1;
}

int osFormatSystemMessage(uint32_t, const uintptr_t*, char*, size_t) {
    return 0;
}

bool osFileDescription(char* out, size_t size) {
    size_t length = strlen(programDescription);
    if (size == 0 || length == 0) {
        return false;
    }
    if (length >= size) {
        length = size - 1;
    }
    memcpy(out, programDescription, length);
    out[length] = '\0';
    return true;
}
