// Fatal errors: the one error record that is raised, the raise functions, and the
// reporting of raises and hardware faults from the message table. Every raise*
// function throws a SyncError and never returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "messages_generated.h"  // SyncErrorCode: the ERR_ codes, generated from resources/
#include "platform/platform.h"

// A raise's one text argument (a path or a server message), terminator included.
constexpr size_t kErrorTextSize = 1024;

// The raised record: caught once, in main.
struct SyncError {
    uint32_t code;
    uint32_t argCount;  // 0, or 1 when raisedText() is the argument
    uintptr_t address;  // where it was raised
};

// Raises a code without argument. Never returns.
[[noreturn]] void raiseError(uint32_t code);
// Raise a code whose text has "%1", with the argument cut to kErrorTextSize - 1 bytes:
// a narrow text, a UTF-16 text (in the console's narrow form), or `length` bytes.
[[noreturn]] void raiseErrorText(uint32_t code, const char* text);
[[noreturn]] void raiseErrorWide(uint32_t code, const char16_t* text);
[[noreturn]] void raiseErrorBytes(uint32_t code, const char* bytes, size_t length);
// The text argument of the last raise.
const char* raisedText();

// The exception record of a caught SyncError.
ExceptionInfo syncErrorInfo(const SyncError& error);

// Formats the message of an exception into `out`; returns 1 when the run must end
// (handle) or -1 when it may continue.
int formatExceptionText(const ExceptionInfo* info, char* out, size_t size);
// Formats and writes the message; returns the verdict of formatExceptionText.
int reportException(const ExceptionInfo* info);
// Writes a message to standard error on a line of its own (message box fallback).
void reportMessage(const char* text);
// The program's description (256 bytes); false when there is none.
bool getFileDescription(char* out);

// Formats a message-table text with the inserts %1 (text argument) and
// %1!08X! / %2!08X! (hexadecimal arguments); returns the length, 0 for an unknown code.
// The text ends with the platform's line end.
int formatTableMessage(uint32_t code, const uintptr_t* args, char* out, size_t size);
