// Fatal error reporting: raises and their message texts, the verdicts, the message
// writer's line rules, and hardware faults reported by a child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/errors.h"

namespace {

constexpr size_t kOut = 1024;  // formatting buffer of the tests

std::string lineEnd() {
    return osLineEnd();
}

// Windows writes "\r\n" before a message whenever standard error is not a console,
// which is the case for a test child; POSIX only after an open line on standard output.
bool stderrAlwaysBreaks() {
    return lineEnd() == "\r\n";
}

std::string formatted(const ExceptionInfo& info, int* verdict = nullptr) {
    char out[kOut];
    int result = formatExceptionText(&info, out, sizeof out);
    if (verdict) {
        *verdict = result;
    }
    return out;
}

ExceptionInfo raisedInfo(void (*raise)()) {
    try {
        raise();
    } catch (const SyncError& error) {
        return syncErrorInfo(error);
    }
    ADD_FAILURE() << "nothing was raised";
    return ExceptionInfo{};
}

// A child's standard error as the parent reads it back: GoogleTest reads the capture
// file in text mode, which turns a Windows "\r\n" into "\n". (The exact line-end
// bytes are checked in-process by the formatting tests.)
std::string captured(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

// The child's whole standard error must equal `expected`.
::testing::Matcher<const std::string&> stderrIs(const std::string& expected) {
    return ::testing::Matcher<const std::string&>(captured(expected));
}

void reportFault(const ExceptionInfo* info) {
    reportException(info);
}

// Faults the compiler cannot see through: the pointer and the divisor are read
// from volatile storage, and the sanitizers must not intercept them first.
volatile int faultResult;

// GCC keeps such a function out of interprocedural analysis with noipa; clang has no
// noipa, and noinline with the volatile accesses serves there.
#if defined(__clang__)
#define FAULT_FUNCTION(...) [[gnu::noinline, clang::no_sanitize(__VA_ARGS__)]]
#else
#define FAULT_FUNCTION(...) [[gnu::noipa, gnu::no_sanitize(__VA_ARGS__)]]
#endif

FAULT_FUNCTION("address", "undefined") void readThroughNull() {
    int* volatile pointer = nullptr;
    faultResult = *static_cast<volatile int*>(pointer);
}

FAULT_FUNCTION("address", "undefined") void writeThroughNull() {
    int* volatile pointer = nullptr;
    *static_cast<volatile int*>(pointer) = 1;
}

FAULT_FUNCTION("undefined") void divideByZero() {
    volatile int dividend = 7;
    volatile int divisor = 0;
    faultResult = dividend / divisor;
}

}  // namespace

TEST(RaiseError, TextArgumentIsInsertedIntoTheTableText) {
    ExceptionInfo info = raisedInfo([] { raiseErrorText(ERR_ADB_ERROR, "device offline"); });
    EXPECT_EQ(info.code, ERR_ADB_ERROR);
    EXPECT_EQ(info.flags, 1u);
    EXPECT_EQ(info.argCount, 1u);
    EXPECT_EQ(info.args[0], reinterpret_cast<uintptr_t>(raisedText()));
    EXPECT_NE(info.address, 0u);
    int verdict = 0;
    EXPECT_EQ(formatted(info, &verdict), "Error \"device offline\" from ADB" + lineEnd());
    EXPECT_EQ(verdict, 1);
}

TEST(RaiseError, CodeWithoutArgumentUsesNoArguments) {
    ExceptionInfo info = raisedInfo([] { raiseError(ERR_ADB_NO_RESPONSE); });
    EXPECT_EQ(info.argCount, 0u);
    EXPECT_EQ(formatted(info), "No response from ADB" + lineEnd());
}

TEST(RaiseError, LongTextIsCutAndErrorTextMayBeItsOwnArgument) {
    std::string longText(3000, 'x');
    try {
        raiseErrorText(ERR_FILE_OPEN, longText.c_str());
    } catch (const SyncError&) {
    }
    EXPECT_EQ(strlen(raisedText()), kErrorTextSize - 1);

    ExceptionInfo info = raisedInfo([] { raiseErrorWide(ERR_FILE_CREATE, u"C:\\data\\a.txt"); });
    EXPECT_EQ(formatted(info), "Could not create file \"C:\\data\\a.txt\"" + lineEnd());
}

TEST(FormatTableMessage, HexInsertsAndCuts) {
    char out[kOut];
    uintptr_t args[2] = {0xC0000094, 0x4010AB};
    ASSERT_GT(formatTableMessage(ERR_UNKNOWN, args, out, sizeof out), 0);
    EXPECT_EQ(std::string(out), "Unknown error, code=0xC0000094, addr=0x004010AB" + lineEnd());

    uintptr_t small[2] = {0, 0x1F};
    formatTableMessage(ERR_WRITE_ACCESS, small, out, sizeof out);
    EXPECT_EQ(std::string(out), "Write access violation of 0x0000001F" + lineEnd());

    if (sizeof(uintptr_t) == 8) {
        uint64_t wide = 0x7F12345678ull;
        uintptr_t wideArgs[2] = {0, static_cast<uintptr_t>(wide)};
        formatTableMessage(ERR_READ_ACCESS, wideArgs, out, sizeof out);
        EXPECT_EQ(std::string(out), "Read access violation of 0x7F12345678" + lineEnd());
    }

    EXPECT_EQ(formatTableMessage(0xE00100FF, args, out, sizeof out), 0);

    char tiny[6];
    EXPECT_EQ(formatTableMessage(ERR_ADB_SEND, nullptr, tiny, sizeof tiny), 5);
    EXPECT_STREQ(tiny, "Send ");
}

TEST(FormatExceptionText, AccessViolationsNameTheAccessedAddress) {
    ExceptionInfo read{0xC0000005, 0, 0x401000, 2, {0, 0x10}};
    ExceptionInfo write{0xC0000005, 0, 0x401000, 2, {1, 0xABCDEF}};
    int verdict = 0;
    EXPECT_EQ(formatted(read, &verdict), "Read access violation of 0x00000010" + lineEnd());
    EXPECT_EQ(verdict, 1);
    EXPECT_EQ(formatted(write), "Write access violation of 0x00ABCDEF" + lineEnd());

    // Neither read nor write (an execute fault): the code is kept; without a system
    // text for it, the unknown-error text names it.
    ExceptionInfo execute{0xC0000005, 0, 0x401000, 2, {8, 0x401000}};
    char system[kOut];
    uintptr_t args[2] = {8, 0x401000};
    std::string expected = osFormatSystemMessage(0xC0000005, args, system, sizeof system) > 0
                               ? std::string(system)
                               : "Unknown error, code=0xC0000005, addr=0x00401000" + lineEnd();
    EXPECT_EQ(formatted(execute, &verdict), expected);
    EXPECT_EQ(verdict, 1);
}

TEST(FormatExceptionText, UnknownCodeFallsBackToTheUnknownText) {
    ExceptionInfo info{0x20001234, 0, 0xBEEF, 0, {0, 0}};
    char system[kOut];
    ASSERT_EQ(osFormatSystemMessage(0x20001234, info.args, system, sizeof system), 0);
    int verdict = 0;
    EXPECT_EQ(formatted(info, &verdict),
              "Unknown error, code=0x20001234, addr=0x0000BEEF" + lineEnd());
    EXPECT_EQ(verdict, 1);  // an undescribed exception always ends the run
}

TEST(FormatExceptionText, Verdicts) {
    // A continuable exception that a table describes is reported and may continue.
    ExceptionInfo described{ERR_USER_TERMINATION, 0, 0x1000, 0, {0, 0}};
    int verdict = 0;
    EXPECT_EQ(formatted(described, &verdict), "User termination" + lineEnd());
    EXPECT_EQ(verdict, -1);

    // The same code raised non-continuable ends the run.
    described.flags = 1;
    formatted(described, &verdict);
    EXPECT_EQ(verdict, 1);

    // Six codes end the run even when continuable.
    const uint32_t fatalCodes[] = {0x80000003, 0xC0000005, 0xC000008E,
                                   0xC0000090, 0xC0000094, 0xC00000FD};
    for (uint32_t code : fatalCodes) {
        ExceptionInfo info{code, 0, 0x1000, 0, {0, 0}};
        formatted(info, &verdict);
        EXPECT_EQ(verdict, 1) << std::hex << code;
    }
}

TEST(ReportMessage, LineRules) {
    std::string first = stderrAlwaysBreaks() ? lineEnd() : "";
    EXPECT_EXIT((reportMessage("Bad flag"), exit(0)), ::testing::ExitedWithCode(0),
                stderrIs(first + "Bad flag" + lineEnd()));
    EXPECT_EXIT((reportMessage("Ends in newline\n"), exit(0)), ::testing::ExitedWithCode(0),
                stderrIs(first + "Ends in newline\n"));
    EXPECT_EXIT((reportMessage(""), reportMessage(nullptr), exit(0)), ::testing::ExitedWithCode(0),
                stderrIs(""));
}

TEST(ReportMessage, StartsOnItsOwnLineAfterAnOpenOutputLine) {
    // A copy line left open on standard output: the message goes to the next line,
    // and a second message needs no further break.
    std::string expected = lineEnd() + "first" + lineEnd() +
                           (stderrAlwaysBreaks() ? lineEnd() : "") + "second" + lineEnd();
    EXPECT_EXIT((osWriteStdout("copying a.jpg", 13), reportMessage("first"),
                 reportMessage("second"), exit(0)),
                ::testing::ExitedWithCode(0), stderrIs(expected));

    // A finished output line needs no break.
    std::string first = stderrAlwaysBreaks() ? lineEnd() : "";
    EXPECT_EXIT((osWriteStdout("listed\n", 7), reportMessage("msg"), exit(0)),
                ::testing::ExitedWithCode(0), stderrIs(first + "msg" + lineEnd()));
}

TEST(ReportException, RaiseIsWrittenToStandardError) {
    std::string first = stderrAlwaysBreaks() ? lineEnd() : "";
    ExceptionInfo info = raisedInfo([] { raiseErrorText(ERR_ROOT_MISSING, "/sdcard/none"); });
    EXPECT_EXIT((exit(reportException(&info) == 1 ? 2 : 0)), ::testing::ExitedWithCode(2),
                stderrIs(first + "The root \"/sdcard/none\" does not exist" + lineEnd()));
}

TEST(FaultReport, NullAccessNamesReadOrWrite) {
    std::string first = stderrAlwaysBreaks() ? lineEnd() : "";
    EXPECT_EXIT((osInitProcess(reportFault), readThroughNull()), ::testing::ExitedWithCode(2),
                stderrIs(first + "Read access violation of 0x00000000" + lineEnd()));
    EXPECT_EXIT((osInitProcess(reportFault), writeThroughNull()), ::testing::ExitedWithCode(2),
                stderrIs(first + "Write access violation of 0x00000000" + lineEnd()));
}

TEST(FaultReport, IntegerDivisionByZeroEndsTheRun) {
    char system[kOut];
    uintptr_t args[2] = {0, 0};
    if (osFormatSystemMessage(0xC0000094, args, system, sizeof system) > 0) {
        EXPECT_EXIT((osInitProcess(reportFault), divideByZero()), ::testing::ExitedWithCode(2), "");
        return;
    }
    // The instruction address varies: match the text around it.
    std::string first = stderrAlwaysBreaks() ? lineEnd() : "";
    std::string pattern =
        captured("^" + first + "Unknown error, code=0xC0000094, addr=0x\\w+" + lineEnd() + "$");
    EXPECT_EXIT((osInitProcess(reportFault), divideByZero()), ::testing::ExitedWithCode(2),
                pattern);
}

TEST(FileDescription, NamesTheProgram) {
    char description[256];
    ASSERT_TRUE(getFileDescription(description));
    EXPECT_EQ(std::string(description),
              "tandrix - compare and synchronise a host directory tree with an Android device");
}
