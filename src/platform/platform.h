// The operating-system interface of tandrix: every call the portable core makes
// into the system. posix*.cpp and win32*.cpp implement it; nothing else includes an OS header.
//
// Sections: text and console; process, faults and messages; command line and
// response files; host files and directories; memory; network; clocks, locale, zone;
// failure hooks for tests.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Text and console
// ---------------------------------------------------------------------------

// Line end written on the console: "\r\n" on Windows, "\n" on POSIX.
const char* osLineEnd();

// Host path separator: '\\' on Windows, '/' on POSIX.
char16_t osPathSeparator();

// Flag switch characters: true for '/' and '-' on Windows, '-' only on POSIX.
bool osIsSwitchChar(char c);

// The switch shown in the usage text: '/' on Windows, '-' on POSIX.
char osUsageSwitch();

// Writes bytes to standard output or standard error, unbuffered. Returns false on
// failure; callers ignore console write failures.
bool osWriteStdout(const char* text, size_t length);
bool osWriteStderr(const char* text, size_t length);

// True when a message about to go to standard error must first end a line: on
// Windows when standard error is not a console or its cursor is not in column 0;
// on POSIX when the program left an unfinished line on standard output.
bool osStderrNeedsLineBreak();

// True when standard output is a terminal (POSIX: isatty) or a console (Windows:
// GetConsoleMode on the standard output handle). A pipe or a file is neither.
bool osStdoutIsTerminal();

// Columns of the terminal or console on standard output, asked anew on each call so
// that a resized window is followed; 0 when unknown.
uint32_t osTerminalColumns();

// A function called before every osWriteStdout (stream 1) and osWriteStderr (stream
// 2) with the text about to go out, and before osStderrNeedsLineBreak (stream 2, no
// text), so that a status line drawn on the terminal can be taken away first. Writes
// made from inside it do not call it again. A null `hook` removes it.
using OsConsoleHook = void (*)(void* data, int stream, const char* text, size_t length);
void osSetConsoleHook(OsConsoleHook hook, void* data);
// Used by the back ends: calls the hook, unless none is set or it is running.
void osCallConsoleHook(int stream, const char* text, size_t length);

// Shows a message box (Windows); returns false where there is none (POSIX).
bool osMessageBox(const char* text, const char* title);

// Writes a line to the debugger output (OutputDebugStringA); nothing on POSIX.
void osDebugOutput(const char* text);

// Narrow text is the ANSI code page on Windows (no best-fit characters) and UTF-8 on
// POSIX (a lone surrogate becomes '?'). Both write a zero-terminated result cut at a
// whole character and return its length in bytes / units.
size_t osWideToNarrow(const char16_t* wide, char* out, size_t capacity);
size_t osNarrowToWide(const char* narrow, char16_t* out, size_t capacity);

// Single-character upper-casing (CharUpperW on Windows; ASCII and Latin-1 on POSIX).
char16_t osUpperChar(char16_t c);

// True when `c` may appear in one host file name component. Never '/' or NUL; on
// Windows also never '\\', any of : * ? " < > | or a control character.
bool osValidNameChar(char16_t c);

// True where host names follow the Windows rules: names equal without regard to case
// name one file, a trailing dot or space is dropped, and CON, AUX, COM1 and the like
// name devices. False on POSIX, whose file systems take such names as they are.
bool osWindowsNames();

// ---------------------------------------------------------------------------
// Process, faults and messages
// ---------------------------------------------------------------------------

// What a fault or raise looks like to the reporting code (the shape of a Win32
// exception record): code, flags (bit 0: non-continuable), where it happened, and
// up to two arguments.
struct ExceptionInfo {
    uint32_t code;
    uint32_t flags;
    uintptr_t address;
    uint32_t argCount;
    uintptr_t args[2];
};

// Prepares the process: SIGPIPE ignored, fault handlers installed. A hardware
// fault (null read, integer division by zero, bus error) is passed to `report`,
// then the process ends with exit code 2. `report` must only format and write.
void osInitProcess(void (*report)(const ExceptionInfo* info));

// Ends the process at once with the given exit code.
[[noreturn]] void osExitProcess(int code);

// Formats a message of the program's own message-table resource (Windows:
// FormatMessageA from the module). Returns the length, 0 when the code is not in it,
// or -1 when the platform has no such resource (POSIX: the core formats from its
// compiled-in table instead).
int osFormatOwnMessage(uint32_t code, const uintptr_t* args, char* out, size_t size);

// Formats a message of the system's table; 0 when there is none (always on POSIX).
int osFormatSystemMessage(uint32_t code, const uintptr_t* args, char* out, size_t size);

// The FileDescription of the program's version record (Windows), or the compiled-in
// description (POSIX). False when there is none.
bool osFileDescription(char* out, size_t size);

// ---------------------------------------------------------------------------
// Command line and response files
// ---------------------------------------------------------------------------

// Where the flag parser reads its words: a raw command line split by the parser's
// own grammar (Windows), or argv words taken whole (POSIX).
struct CommandSource {
    const char* raw;  // raw command line, or null
    int argc;         // argv words when raw is null
    char** argv;
};

// The process's command source; argc and argv are main's.
CommandSource osCommandSource(int argc, char** argv);

// A read-only mapping of a whole file.
struct MappedFile {
    const char* data;
    size_t size;
    intptr_t fileHandle;
    intptr_t mapHandle;
};

// Maps a file named in narrow text read-only. False (nothing to unmap) when it cannot
// be opened or mapped; an empty file cannot be mapped.
bool osMapFile(const char* name, MappedFile* file);
void osUnmapFile(MappedFile* file);

// ---------------------------------------------------------------------------
// Host files and directories (paths are zero-terminated UTF-16)
// ---------------------------------------------------------------------------

// A file handle; kNoFile when none.
using OsFile = intptr_t;
constexpr OsFile kNoFile = -1;

struct OsFileInfo {
    bool isDirectory;
    uint64_t size;   // bytes
    uint64_t mtime;  // FILETIME: 100 ns units since 1601-01-01 UTC
};

// Full path of `path` against the current directory ("." and ".." resolved).
// Windows: GetFullPathNameW. POSIX: lexical, repeated '/' collapsed. False on failure
// or when the result does not fit.
bool osFullPath(const char16_t* path, char16_t* out, size_t capacity);

// Looks one path up: true when it exists; its stored name (last component, the file
// system's case on Windows, as typed on POSIX) in `storedName` when given.
bool osLookupName(const char16_t* path, char16_t* storedName, size_t capacity, bool* isDirectory);

// Queries an entry (following links on POSIX). False when it cannot be queried.
bool osStatPath(const char16_t* path, OsFileInfo* info);

// What tells one version of a file from another: a pull compares it just before it
// replaces a file, a push after it read one.
struct OsFileStamp {
    bool regular;     // a regular file: not a directory, FIFO, socket or device
    bool link;        // osPathStamp: the path itself is a symbolic link (Windows: a reparse point)
    uint64_t size;    // bytes
    uint64_t mtime;   // FILETIME
    uint64_t volume;  // POSIX: device and inode; Windows: volume serial and file index
    uint64_t file;    // (0 and 0 from osPathStamp on Windows, which has no handle)
};

// The stamp of an open file, and of a path without following its last component
// (lstat). False when it cannot be queried (osPathStamp: also when nothing is there).
bool osFileStamp(OsFile file, OsFileStamp* stamp);
bool osPathStamp(const char16_t* path, OsFileStamp* stamp);

// The longest host path the file API takes, in UTF-16 units without the terminator:
// 259 on Windows (no long-path support), far beyond any path buffer on POSIX.
size_t osPathLimit();

// One entry of a directory read. `name` is null when the host name cannot be
// represented (POSIX: not valid UTF-8; Windows: a lone surrogate); `rawName` is
// then its raw form for messages.
struct OsDirEntry {
    const char16_t* name;
    const char* rawName;
    OsFileInfo info;
};

// Which directory a read reached, whatever path led there: device and inode on POSIX,
// volume serial and file ID on Windows.
struct OsDirId {
    uint64_t volume;
    uint64_t file;
};

// Reads a directory, calling `visit` once per entry except "." and "..", and gives
// its identity in `id`. POSIX skips FIFOs, sockets, devices and broken links. False
// when it cannot be opened or read to its end (an entry it may not query counts as
// not read). The directory is closed also when `visit` raises.
bool osReadDirectory(const char16_t* path, void (*visit)(void* context, const OsDirEntry* entry),
                     void* context, OsDirId* id);

bool osCreateDirectory(const char16_t* path);
// Opens a regular file for reading without ever waiting: a FIFO, socket, device or
// directory at the path gives kNoFile at once (osPathStamp tells that case apart).
OsFile osOpenRead(const char16_t* path);
// Creates a new file that must not exist yet (the temporary files of pulls).
OsFile osCreateNew(const char16_t* path);
// Reads up to `count` bytes; returns the count read, 0 at end, -1 on failure.
int64_t osReadFile(OsFile file, void* buffer, size_t count);
// Writes all bytes; false on failure or a short write.
bool osWriteFile(OsFile file, const void* buffer, size_t count);
// Sets creation (Windows) and modification time.
bool osSetFileTime(OsFile file, uint64_t mtime);
// False when closing reports an error (a delayed write failure): the file is not whole.
// The handle is closed either way, and an interruption no longer closes it.
bool osCloseFile(OsFile file);
// Gives the file at `to` the permission bits of the file at `from` (POSIX mode bits;
// Windows read-only, hidden, system and archive attributes). False when either fails.
bool osCopyPermissions(const char16_t* from, const char16_t* to);
// The size of an open file; false when it cannot be queried.
bool osFileSize(OsFile file, uint64_t* size);
// The file that an interruption (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break, console
// close) removes before the process ends: the open temporary file of a pull. Null
// clears it. The path is kept in a static buffer, ready for the signal handler.
void osSetInterruptCleanup(const char16_t* path, OsFile file);
// Renames, replacing an existing target.
bool osRenameFile(const char16_t* from, const char16_t* to);
// Renames only when nothing is at `to`: an atomic test on Linux (renameat2 with
// RENAME_NOREPLACE; link and unlink where the file system refuses the flag) and on
// Windows (MoveFileExW without MOVEFILE_REPLACE_EXISTING). False on failure, with
// `*taken` true when it failed because something is there, whatever its case or
// spelling (a case-folding file system, a name Windows shortens).
bool osRenameNew(const char16_t* from, const char16_t* to, bool* taken);
bool osDeleteFile(const char16_t* path);
// Why the last failed host file call (create, open, read, write, close, rename,
// mkdir; not a query) failed, as the system words it (strerror on POSIX, FormatMessage
// on Windows, without a line end), at most `size` bytes with the terminator; a call
// failed by a failure hook reads as an I/O error.
void osLastFileError(char* out, size_t size);
// True when that call failed because the disk or the user's quota is
// full (ENOSPC, EDQUOT; ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL).
bool osLastFileErrorIsFull();

// ---------------------------------------------------------------------------
// Memory (address-space reservation for the private heap)
// ---------------------------------------------------------------------------

size_t osAllocationGranularity();
// Reserves `size` bytes anywhere (no access yet); null on failure.
void* osReserve(size_t size);
// Reserves exactly at `address`; returns `address`, or null when that range is taken.
void* osReserveAt(void* address, size_t size);
// Commits read-write; returns `address` on success.
void* osCommit(void* address, size_t size);
// Releases every reservation in [address, address + size).
void osReleaseRange(void* address, size_t size);

// ---------------------------------------------------------------------------
// Network: one TCP connection to 127.0.0.1
// ---------------------------------------------------------------------------

// The back end's connection state, embedded in the connection record.
struct OsNetState {
    intptr_t socketHandle;  // 0 until created; -1 when creation failed
    intptr_t connectEvent;  // Windows event handles; unused on POSIX
    intptr_t ioEvent;
    alignas(8) unsigned char ioRecord[32];  // Windows OVERLAPPED record
};

// Connects to 127.0.0.1:port within timeoutMs, Nagle off, send and receive limits
// set. False when no connection could be made; what was created stays for osNetClose.
bool osNetConnect(OsNetState* net, uint16_t port, uint32_t timeoutMs);
// Sends all bytes, each wait bounded by timeoutMs. False on any failure.
bool osNetSendAll(OsNetState* net, const void* data, size_t count, uint32_t timeoutMs);
// Sends bytes until all are sent or, while it waits for room, bytes arrive to be read
// (or the peer closes): returns the count sent then, which may be 0. -1 on failure or
// when neither room nor bytes came within timeoutMs. A sender with replies in flight
// uses it, so it never waits on a peer that waits on it.
int64_t osNetSendUntilReadable(OsNetState* net, const void* data, size_t count, uint32_t timeoutMs);
// Receives up to `count` bytes within timeoutMs: the count (> 0), 0 when the peer
// closed, -1 on failure or time-out.
int64_t osNetReceive(OsNetState* net, void* buffer, size_t count, uint32_t timeoutMs);
// Bytes that can be read now without waiting; 0 when none or on failure.
uint32_t osNetAvailable(OsNetState* net);
// Closes what is open and clears the fields.
void osNetClose(OsNetState* net);

// ---------------------------------------------------------------------------
// Clocks, locale texts and the time zone
// ---------------------------------------------------------------------------

uint64_t osPerfFrequency();  // ticks per second
void osSleep(uint32_t milliseconds);
uint64_t osPerfCounter();
uint64_t osSystemTimeAsFileTime();

// GetLocaleInfoA on Windows; the English (United States) texts on POSIX. Writes at
// most `size` bytes including the terminator; returns the count written with the
// terminator, or 0 when the text is unknown or does not fit.
int osLocaleInfo(uint32_t locale, uint32_t lcType, char* out, int size);

// The computer's zone: returns its kind (0 no daylight distinction, 1 standard,
// 2 daylight, -1 failure) and the total bias in minutes west of UTC.
int osTimeZone(int32_t* biasMinutes);

// ---------------------------------------------------------------------------
// Failure hooks for tests: make the n-th call of one kind fail
// ---------------------------------------------------------------------------

enum OsCall {
    OS_OPEN_READ,
    OS_CREATE_WRITE,
    OS_READ,
    OS_WRITE,
    OS_RENAME,  // both renames
    OS_MKDIR,
    OS_CLOSE,      // the file is closed, its close reported as failed
    OS_FILE_SIZE,  // osFileSize and osFileStamp
    OS_COPY_PERMISSIONS,
    OS_NET_SEND,
    OS_NET_RECEIVE,
    OS_CALL_COUNT
};

// From now on, the call of kind `call` numbered `nth` (1 = the next one) fails;
// 0 clears the hook.
void osFailCall(OsCall call, int nth);
// Used by the back ends: counts a call and says whether it must fail.
bool osShouldFail(OsCall call);
