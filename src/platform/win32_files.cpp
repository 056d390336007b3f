// Host files and directories on Windows: the wide-character file API. char16_t and
// wchar_t are both UTF-16 units here, so paths pass through unchanged.
//
// Sections: full path and lookup; directory read; files.
#include <windows.h>

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
    if (isDirectory != nullptr) *isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

// ---------------------------------------------------------------------------
// Directory read
// ---------------------------------------------------------------------------

// Every entry is taken; the directory attribute decides (a junction to a directory
// is a directory). Hidden and system entries included.
bool osReadDirectory(const char16_t* path, void (*visit)(void* context, const OsDirEntry* entry),
                     void* context) {
    std::wstring pattern(wide(path));
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';   // a drive root has one
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0)
            continue;
        OsDirEntry entry;
        entry.name = reinterpret_cast<const char16_t*>(data.cFileName);
        entry.rawName = nullptr;   // every name is representable
        entry.info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.info.size = join(data.nFileSizeHigh, data.nFileSizeLow);
        entry.info.mtime = fileTimeOf(data.ftLastWriteTime);
        visit(context, &entry);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

bool osCreateDirectory(const char16_t* path) {
    if (osShouldFail(OS_MKDIR)) return false;
    return CreateDirectoryW(wide(path), nullptr) != 0;
}

namespace {

OsFile openFile(const char16_t* path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(wide(path), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<OsFile>(h);
}

HANDLE handleOf(OsFile file) {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

OsFile osOpenRead(const char16_t* path) {
    if (osShouldFail(OS_OPEN_READ)) return kNoFile;
    return openFile(path, GENERIC_READ, OPEN_EXISTING);
}

OsFile osCreateWrite(const char16_t* path) {
    if (osShouldFail(OS_CREATE_WRITE)) return kNoFile;
    return openFile(path, GENERIC_WRITE, CREATE_ALWAYS);
}

OsFile osCreateNew(const char16_t* path) {
    if (osShouldFail(OS_CREATE_WRITE)) return kNoFile;
    return openFile(path, GENERIC_WRITE, CREATE_NEW);
}

int64_t osReadFile(OsFile file, void* buffer, size_t count) {
    if (osShouldFail(OS_READ)) return -1;
    DWORD want = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(handleOf(file), buffer, want, &got, nullptr)) return -1;
    return got;
}

bool osWriteFile(OsFile file, const void* buffer, size_t count) {
    if (osShouldFail(OS_WRITE)) return false;
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        DWORD want = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handleOf(file), p, want, &written, nullptr) || written == 0) return false;
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

void osCloseFile(OsFile file) {
    if (file != kNoFile) CloseHandle(handleOf(file));
}

bool osRenameFile(const char16_t* from, const char16_t* to) {
    if (osShouldFail(OS_RENAME)) return false;
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool osDeleteFile(const char16_t* path) {
    return DeleteFileW(wide(path)) != 0;
}
