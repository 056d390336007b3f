// Host files and directories on Windows: the wide-character file API. char16_t and
// wchar_t are both UTF-16 units here, so paths pass through unchanged.
//
// Sections: full path and lookup; directory read; files.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

uint64_t join(DWORD high, DWORD low) {
    return (uint64_t(high) << 32) | low;
}

uint64_t fileTimeOf(const FILETIME& t) {
    return join(t.dwHighDateTime, t.dwLowDateTime);
}

void copyName(const wchar_t* name, char16_t* out, size_t capacity) {
    size_t n = 0;
    while (name[n] != 0 && n + 1 < capacity) {
        out[n] = static_cast<char16_t>(name[n]);
        ++n;
    }
    out[n] = 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Full path and lookup
// ---------------------------------------------------------------------------

bool osFullPath(const char16_t* path, char16_t* out, size_t capacity) {
    if (path == nullptr || path[0] == 0) return false;
    DWORD n = GetFullPathNameW(wide(path), static_cast<DWORD>(capacity),
                               reinterpret_cast<wchar_t*>(out), nullptr);
    return n != 0 && n < capacity;
}

// The stored name of the last component as the file system keeps it (its case; the
// long name for a short alias).
bool osLookupName(const char16_t* path, char16_t* storedName, size_t capacity, bool* isDirectory) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide(path), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    if (isDirectory != nullptr)
        *isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (storedName != nullptr && capacity > 0) copyName(data.cFileName, storedName, capacity);
    return true;
}

bool osStatPath(const char16_t* path, OsFileInfo* info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return false;
    info->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->size = join(data.nFileSizeHigh, data.nFileSizeLow);
    info->mtime = fileTimeOf(data.ftLastWriteTime);
    return true;
}

// The attributes say what is at the path itself: a reparse point (a symbolic link,
// a junction) is reported as such, not as what it points to.
bool osPathStamp(const char16_t* path, OsFileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return false;
    constexpr DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
    stamp->regular = (data.dwFileAttributes & kNotRegular) == 0;
    stamp->link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    stamp->size = join(data.nFileSizeHigh, data.nFileSizeLow);
    stamp->mtime = fileTimeOf(data.ftLastWriteTime);
    stamp->volume = 0;
    stamp->file = 0;
    return true;
}

// MAX_PATH with its terminator: the program does not use the \\?\ form.
size_t osPathLimit() {
    return MAX_PATH - 1;
}

// ---------------------------------------------------------------------------
// Directory read
// ---------------------------------------------------------------------------

// True when a name holds no lone surrogate: only such a name has a UTF-8 form.
bool wellFormed(const wchar_t* name) {
    for (; *name != 0; ++name) {
        if (*name >= 0xD800 && *name < 0xDC00 && name[1] >= 0xDC00 && name[1] < 0xE000)
            ++name;
        else if (*name >= 0xD800 && *name < 0xE000)
            return false;
    }
    return true;
}

// The volume serial and file ID of a directory: what tells a junction's target from
// another directory.
bool directoryId(const char16_t* path, OsDirId* id) {
    HANDLE h = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->file = join(info.nFileIndexHigh, info.nFileIndexLow);
    return true;
}

// Every entry is taken; the directory attribute decides (a junction to a directory
// is a directory). Hidden and system entries included. A name with a lone surrogate
// is handed on without its UTF-16 form, so the caller reports and skips it.
bool osReadDirectory(const char16_t* path, void (*visit)(void* context, const OsDirEntry* entry),
                     void* context, OsDirId* id) {
    if (!directoryId(path, id)) return false;
    std::wstring pattern(wide(path));
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';  // a drive root has one
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    struct Closer {
        HANDLE find;
        ~Closer() { FindClose(find); }  // also when `visit` raises
    } closer{find};
    char shown[MAX_PATH * 3 + 1];
    do {
        if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0)
            continue;
        OsDirEntry entry;
        bool valid = wellFormed(data.cFileName);
        entry.name = valid ? reinterpret_cast<const char16_t*>(data.cFileName) : nullptr;
        if (!valid)
            osWideToNarrow(reinterpret_cast<const char16_t*>(data.cFileName), shown, sizeof shown);
        entry.rawName = valid ? nullptr : shown;
        entry.info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.info.size = join(data.nFileSizeHigh, data.nFileSizeLow);
        entry.info.mtime = fileTimeOf(data.ftLastWriteTime);
        visit(context, &entry);
    } while (FindNextFileW(find, &data));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

namespace {

// The error of the last failed file call (queries do not count), for the reason a
// run gives; a call failed by its hook reads as an I/O error.
DWORD lastFileError = 0;

template <typename T>
T noteFailure(T result, bool failed) {
    if (failed) lastFileError = GetLastError();
    return result;
}

template <typename T>
T hookFailure(T result) {
    lastFileError = ERROR_IO_DEVICE;
    return result;
}

}  // namespace

bool osCreateDirectory(const char16_t* path) {
    if (osShouldFail(OS_MKDIR)) return hookFailure(false);
    bool made = CreateDirectoryW(wide(path), nullptr) != 0;
    return noteFailure(made, !made);
}

namespace {

OsFile openFile(const char16_t* path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(wide(path), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    bool failed = h == INVALID_HANDLE_VALUE;
    return noteFailure(failed ? kNoFile : reinterpret_cast<OsFile>(h), failed);
}

HANDLE handleOf(OsFile file) {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

// Only a file on a disk: a pipe, a console or a device (a path ending in "aux.c"
// names one) is refused, as its reads could wait without end.
OsFile osOpenRead(const char16_t* path) {
    if (osShouldFail(OS_OPEN_READ)) return hookFailure(kNoFile);
    OsFile file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file != kNoFile && GetFileType(handleOf(file)) != FILE_TYPE_DISK) {
        CloseHandle(handleOf(file));
        return kNoFile;
    }
    return file;
}

OsFile osCreateNew(const char16_t* path) {
    if (osShouldFail(OS_CREATE_WRITE)) return hookFailure(kNoFile);
    return openFile(path, GENERIC_WRITE, CREATE_NEW);
}

int64_t osReadFile(OsFile file, void* buffer, size_t count) {
    if (osShouldFail(OS_READ)) return hookFailure(int64_t{-1});
    DWORD want = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(handleOf(file), buffer, want, &got, nullptr))
        return noteFailure(int64_t{-1}, true);
    return got;
}

bool osWriteFile(OsFile file, const void* buffer, size_t count) {
    if (osShouldFail(OS_WRITE)) return hookFailure(false);
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD want = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handleOf(file), p, want, &written, nullptr)) return noteFailure(false, true);
        if (written == 0) {
            lastFileError = ERROR_DISK_FULL;  // nothing written and no error: no room
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

// Creation and last-write time, as a pulled file carries the device's time.
bool osSetFileTime(OsFile file, uint64_t mtime) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(mtime);
    t.dwHighDateTime = static_cast<DWORD>(mtime >> 32);
    return SetFileTime(handleOf(file), &t, nullptr, &t) != 0;
}

bool osCopyPermissions(const char16_t* from, const char16_t* to) {
    if (osShouldFail(OS_COPY_PERMISSIONS)) return false;
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    DWORD attributes = GetFileAttributesW(wide(from));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    DWORD kept = attributes & kKept;
    return SetFileAttributesW(wide(to), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool osFileSize(OsFile file, uint64_t* size) {
    if (osShouldFail(OS_FILE_SIZE)) return false;
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handleOf(file), &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool osFileStamp(OsFile file, OsFileStamp* stamp) {
    if (osShouldFail(OS_FILE_SIZE)) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handleOf(file), &info)) return false;
    stamp->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                     GetFileType(handleOf(file)) == FILE_TYPE_DISK;
    stamp->link = false;
    stamp->size = join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp->mtime = fileTimeOf(info.ftLastWriteTime);
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->file = join(info.nFileIndexHigh, info.nFileIndexLow);
    return true;
}

// ---------------------------------------------------------------------------
// Interruption: Ctrl-C, Ctrl-Break and console close remove the open temporary file
// (its handle closed first, so the delete can succeed) and end with
// STATUS_CONTROL_C_EXIT. The handler runs on a thread of its own, so the record and
// every close of the handle it names are kept under one lock: the handler never
// closes a handle the main thread closed (or one reused since), and never twice.
// ---------------------------------------------------------------------------

namespace {

constexpr DWORD kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT
constexpr size_t kCleanupPathChars = 1024;
wchar_t cleanupPath[kCleanupPathChars];
HANDLE cleanupFile = INVALID_HANDLE_VALUE;
CRITICAL_SECTION cleanupLock;

BOOL WINAPI onControl(DWORD) {
    EnterCriticalSection(&cleanupLock);  // never while the path is half written
    if (cleanupPath[0] != 0) {
        if (cleanupFile != INVALID_HANDLE_VALUE) CloseHandle(cleanupFile);
        cleanupFile = INVALID_HANDLE_VALUE;
        DeleteFileW(cleanupPath);
    }
    ExitProcess(kControlCExit);
}

bool cleanupInstalled = false;

void installCleanup() {
    if (cleanupInstalled) return;
    InitializeCriticalSection(&cleanupLock);
    SetConsoleCtrlHandler(onControl, TRUE);
    cleanupInstalled = true;
}

}  // namespace

bool osCloseFile(OsFile file) {
    if (file == kNoFile) return true;
    bool fail = osShouldFail(OS_CLOSE);
    bool closed;
    if (!cleanupInstalled) {
        closed = CloseHandle(handleOf(file)) != 0;
    } else {
        EnterCriticalSection(&cleanupLock);
        if (cleanupFile == handleOf(file)) cleanupFile = INVALID_HANDLE_VALUE;  // the path stays
        closed = CloseHandle(handleOf(file)) != 0;
        LeaveCriticalSection(&cleanupLock);
    }
    if (fail) return hookFailure(false);
    return noteFailure(closed, !closed);
}

void osSetInterruptCleanup(const char16_t* path, OsFile file) {
    installCleanup();
    EnterCriticalSection(&cleanupLock);
    size_t n = 0;
    if (path != nullptr)
        for (; path[n] != 0 && n + 1 < kCleanupPathChars; ++n) cleanupPath[n] = path[n];
    cleanupPath[n] = 0;
    cleanupFile = path != nullptr ? handleOf(file) : INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&cleanupLock);
}

bool osRenameFile(const char16_t* from, const char16_t* to) {
    if (osShouldFail(OS_RENAME)) return hookFailure(false);
    bool moved = MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
    return noteFailure(moved, !moved);
}

bool osRenameNew(const char16_t* from, const char16_t* to, bool* taken) {
    *taken = false;
    if (osShouldFail(OS_RENAME)) return hookFailure(false);
    if (MoveFileExW(wide(from), wide(to), 0) != 0) return true;
    DWORD error = GetLastError();
    *taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return noteFailure(false, true);
}

bool osDeleteFile(const char16_t* path) {
    return DeleteFileW(wide(path)) != 0;
}

void osLastFileError(char* out, size_t size) {
    if (size == 0) return;
    DWORD error = lastFileError;
    wchar_t text[256];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, 256, nullptr);
    // The system's sentence ends with a full stop and a line end; the message is a reason.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    text[length] = 0;
    if (length == 0) {
        std::snprintf(out, size, "system error %lu", static_cast<unsigned long>(error));
        return;
    }
    osWideToNarrow(reinterpret_cast<const char16_t*>(text), out, size);
}

bool osLastFileErrorIsFull() {
    return lastFileError == ERROR_DISK_FULL || lastFileError == ERROR_HANDLE_DISK_FULL;
}
