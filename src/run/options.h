// The command line of tandrix: its option-letter tables, its usage text, and the
// step of main that turns the command line into the run's SyncContext.
#pragma once

#include "platform/platform.h"
#include "support/flags.h"

struct SyncContext;

constexpr int kHostOptionRows = 3;          // /h: S, C, U
constexpr int kAndroidOptionRows = 3;       // /a: S, C, U
constexpr int kListOptionRows = 4;          // /l: D, H, A, *
constexpr size_t kRootArgumentSize = 1024;  // a root argument, terminator included

// Each table ends with a row whose letter is 0.
extern const OptionEntry hostOptions[kHostOptionRows + 1];
extern const OptionEntry androidOptions[kAndroidOptionRows + 1];
extern const OptionEntry listOptions[kListOptionRows + 1];

// The usage text, with the platform's switch character and line ends.
const char* usageText();

// readCommandLine's answer to --help or --version: the run ends with exit code 0.
constexpr int kCommandAnswered = -1;

// Zero-fills the context and fills it from the command line: the flag rules, the
// three roots, the connection choice, copy flags, pattern lists, time comparison and
// list mask. Returns 0 to go on, 1 after the message of a bad command line or the
// usage text, or kCommandAnswered after writing the usage text or the version to
// standard output for --help or --version (GNU conventions, argv words only, so
// POSIX). Building the pattern lists allocates from the context's heap and so may
// raise a SyncError.
int readCommandLine(SyncContext* context, const CommandSource& source);
