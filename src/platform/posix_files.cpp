// Host files and directories on POSIX. Paths arrive as UTF-16 and go to the system
// as UTF-8 (surrogate pairs combined, a lone surrogate refused); names come back
// strictly decoded, so a name that is not valid UTF-8 is reported, never mangled.
//
// Sections: path and name conversion; full path and lookup; directory read; files.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_utf8.h"

namespace {

constexpr size_t kNativePathBytes = 4096;  // UTF-8 form of a host path (PATH_MAX)
constexpr size_t kNativeNameUnits = 512;   // UTF-16 form of one directory entry's name
constexpr uint64_t kEpochFileTime = 116444736000000000ull;  // 1970-01-01 as FILETIME
constexpr int64_t kUnitsPerSecond = 10000000;
constexpr int64_t kSecondsLimit = 900000000000ll;  // keeps seconds * 10^7 inside 64 bits

// UTF-16 to UTF-8 with pairs combined; false for a lone surrogate or no room.
bool toNative(const char16_t* path, char* out, size_t capacity) {
    size_t n = 0;
    for (size_t i = 0; path[i] != 0;) {
        char32_t c = posixutf8::nextWide(path, &i);
        if (c == posixutf8::kInvalid) return false;
        char bytes[posixutf8::kMaxBytes];
        size_t count = posixutf8::encode(c, bytes);
        if (n + count + 1 > capacity) return false;
        std::memcpy(out + n, bytes, count);
        n += count;
    }
    out[n] = 0;
    return true;
}

// Strict UTF-8 to UTF-16: overlong forms, encoded surrogates, values above U+10FFFF
// and cut sequences are refused, as is a result without room.
bool fromNative(const char* text, char16_t* out, size_t capacity) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    while (*s != 0) {
        size_t used;
        char32_t c = posixutf8::decode(s, &used);
        if (c == posixutf8::kInvalid || !posixutf8::putWide(c, out, &n, capacity)) return false;
        s += used;
    }
    out[n] = 0;
    return true;
}

uint64_t fileTimeOf(const struct timespec& t) {
    int64_t seconds = t.tv_sec;
    if (seconds > kSecondsLimit) seconds = kSecondsLimit;
    if (seconds < -kSecondsLimit) seconds = -kSecondsLimit;
    int64_t units = seconds * kUnitsPerSecond + t.tv_nsec / 100 + int64_t(kEpochFileTime);
    return units < 0 ? 0 : static_cast<uint64_t>(units);  // nothing before 1601
}

const struct timespec& modificationTime(const struct stat& st) {
#ifdef __APPLE__
    return st.st_mtimespec;
#else
    return st.st_mtim;
#endif
}

void fillInfo(const struct stat& st, OsFileInfo* info) {
    info->isDirectory = S_ISDIR(st.st_mode);
    info->size = info->isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
    info->mtime = fileTimeOf(modificationTime(st));
}

bool statNative(const char16_t* path, struct stat* st) {
    char native[kNativePathBytes];
    return toNative(path, native, sizeof native) && stat(native, st) == 0;
}

void fillStamp(const struct stat& st, OsFileStamp* stamp) {
    stamp->regular = S_ISREG(st.st_mode);
    stamp->link = S_ISLNK(st.st_mode);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->mtime = fileTimeOf(modificationTime(st));
    stamp->volume = static_cast<uint64_t>(st.st_dev);
    stamp->file = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

// ---------------------------------------------------------------------------
// Full path and lookup
// ---------------------------------------------------------------------------

// Lexical: the current directory in front of a relative path, empty and "."
// components dropped, ".." taking back one component (never above "/"). Links are
// not followed, as a user reading the path expects.
bool osFullPath(const char16_t* path, char16_t* out, size_t capacity) {
    if (path == nullptr || path[0] == 0 || capacity < 2) return false;
    std::u16string whole;
    if (path[0] != u'/') {
        std::vector<char> cwd(kNativePathBytes);
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return false;
            cwd.resize(cwd.size() * 2);
        }
        std::vector<char16_t> wide(std::strlen(cwd.data()) + 1);
        if (!fromNative(cwd.data(), wide.data(), wide.size())) return false;
        whole = wide.data();
        whole += u'/';
    }
    whole += path;
    std::vector<std::u16string> parts;
    size_t pos = 0;
    while (pos <= whole.size()) {
        size_t end = whole.find(u'/', pos);
        if (end == std::u16string::npos) end = whole.size();
        std::u16string part = whole.substr(pos, end - pos);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::u16string result;
    for (const std::u16string& part : parts) {
        result += u'/';
        result += part;
    }
    if (result.empty()) result.push_back(u'/');
    if (result.size() + 1 > capacity) return false;
    std::memcpy(out, result.c_str(), (result.size() + 1) * sizeof(char16_t));
    return true;
}

// Names are stored as typed on POSIX: the stored name is the last component.
bool osLookupName(const char16_t* path, char16_t* storedName, size_t capacity, bool* isDirectory) {
    struct stat st;
    if (!statNative(path, &st)) return false;
    if (isDirectory != nullptr) *isDirectory = S_ISDIR(st.st_mode);
    if (storedName != nullptr && capacity > 0) {
        const char16_t* last = path;
        for (const char16_t* p = path; *p != 0; ++p)
            if (*p == u'/') last = p + 1;
        size_t n = 0;
        while (last[n] != 0 && n + 1 < capacity) {
            storedName[n] = last[n];
            ++n;
        }
        storedName[n] = 0;
    }
    return true;
}

bool osStatPath(const char16_t* path, OsFileInfo* info) {
    struct stat st;
    if (!statNative(path, &st)) return false;
    fillInfo(st, info);
    return true;
}

bool osPathStamp(const char16_t* path, OsFileStamp* stamp) {
    char native[kNativePathBytes];
    struct stat st;
    if (!toNative(path, native, sizeof native) || lstat(native, &st) != 0) return false;
    fillStamp(st, stamp);
    return true;
}

bool osFileStamp(OsFile file, OsFileStamp* stamp) {
    if (osShouldFail(OS_FILE_SIZE)) return false;
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return false;
    fillStamp(st, stamp);
    return true;
}

// Path buffers end far below PATH_MAX; the buffers decide.
size_t osPathLimit() {
    return kNativePathBytes - 1;
}

// ---------------------------------------------------------------------------
// Directory read
// ---------------------------------------------------------------------------

// Directories and regular files after following links; FIFOs (whose read would
// block a push), sockets, devices and broken links are skipped. An entry that exists
// but may not be queried (a directory without search permission) makes the whole
// read fail: its content would otherwise look smaller than it is.
bool osReadDirectory(const char16_t* path, void (*visit)(void* context, const OsDirEntry* entry),
                     void* context, OsDirId* id) {
    char native[kNativePathBytes];
    if (!toNative(path, native, sizeof native)) return false;
    DIR* dir = opendir(native);
    if (dir == nullptr) return false;
    struct Closer {
        DIR* dir;
        ~Closer() { closedir(dir); }  // also when `visit` raises
    } closer{dir};
    int fd = dirfd(dir);
    struct stat self;
    if (fstat(fd, &self) != 0) return false;
    id->volume = static_cast<uint64_t>(self.st_dev);
    id->file = static_cast<uint64_t>(self.st_ino);
    char16_t name[kNativeNameUnits];
    for (;;) {
        errno = 0;
        struct dirent* d = readdir(dir);
        if (d == nullptr) return errno == 0;
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        struct stat st;
        if (fstatat(fd, d->d_name, &st, 0) != 0) {
            if (errno == ENOENT || errno == ELOOP) continue;  // gone, a broken or looping link
            return false;
        }
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
        OsDirEntry entry;
        entry.name = fromNative(d->d_name, name, kNativeNameUnits) ? name : nullptr;
        entry.rawName = d->d_name;
        fillInfo(st, &entry.info);
        visit(context, &entry);
    }
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

namespace {

// The error of the last failed file call (queries do not count), for the reason a
// run gives; a call failed by its hook reads as an I/O error.
int lastFileError = 0;

template <typename T>
T noteFailure(T result, bool failed) {
    if (failed) lastFileError = errno;
    return result;
}

template <typename T>
T hookFailure(T result) {
    lastFileError = EIO;
    return result;
}

}  // namespace

bool osCreateDirectory(const char16_t* path) {
    if (osShouldFail(OS_MKDIR)) return hookFailure(false);
    char native[kNativePathBytes];
    bool made = toNative(path, native, sizeof native) && mkdir(native, 0777) == 0;
    return noteFailure(made, !made);
}

namespace {

OsFile openNative(const char16_t* path, int flags) {
    char native[kNativePathBytes];
    if (!toNative(path, native, sizeof native)) return kNoFile;
    int fd;
    do {
        fd = open(native, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return noteFailure(fd < 0 ? kNoFile : OsFile{fd}, fd < 0);
}

}  // namespace

// Opened without waiting (a FIFO's open waits for a writer), then checked to be a
// regular file, then made blocking again for the reads.
OsFile osOpenRead(const char16_t* path) {
    if (osShouldFail(OS_OPEN_READ)) return hookFailure(kNoFile);
    OsFile file = openNative(path, O_RDONLY | O_NONBLOCK);
    if (file == kNoFile) return kNoFile;
    int fd = static_cast<int>(file);
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return kNoFile;
    }
    return file;
}

OsFile osCreateNew(const char16_t* path) {
    if (osShouldFail(OS_CREATE_WRITE)) return hookFailure(kNoFile);
    return openNative(path, O_WRONLY | O_CREAT | O_EXCL);
}

int64_t osReadFile(OsFile file, void* buffer, size_t count) {
    if (osShouldFail(OS_READ)) return hookFailure(int64_t{-1});
    ssize_t n;
    do {
        n = read(static_cast<int>(file), buffer, count);
    } while (n < 0 && errno == EINTR);
    return noteFailure(int64_t{n}, n < 0);
}

bool osWriteFile(OsFile file, const void* buffer, size_t count) {
    if (osShouldFail(OS_WRITE)) return hookFailure(false);
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t n = write(static_cast<int>(file), p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;  // nothing written and no error: no room
        if (n <= 0) return noteFailure(false, true);
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// The modification time only; the access time is left as it is.
bool osSetFileTime(OsFile file, uint64_t mtime) {
    int64_t units = static_cast<int64_t>(mtime - kEpochFileTime);
    int64_t seconds = units / kUnitsPerSecond;
    int64_t rest = units % kUnitsPerSecond;
    if (rest < 0) {
        rest += kUnitsPerSecond;
        --seconds;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * 100);
    return futimens(static_cast<int>(file), times) == 0;
}

bool osCloseFile(OsFile file) {
    if (file == kNoFile) return true;
    bool fail = osShouldFail(OS_CLOSE);
    // EINTR leaves the descriptor closed on Linux; only a reported error counts.
    bool closed = close(static_cast<int>(file)) == 0 || errno == EINTR;
    if (fail) return hookFailure(false);
    return noteFailure(closed, !closed);
}

bool osCopyPermissions(const char16_t* from, const char16_t* to) {
    if (osShouldFail(OS_COPY_PERMISSIONS)) return false;
    struct stat st;
    char native[kNativePathBytes];
    return statNative(from, &st) && toNative(to, native, sizeof native) &&
           chmod(native, st.st_mode & 07777) == 0;
}

bool osFileSize(OsFile file, uint64_t* size) {
    if (osShouldFail(OS_FILE_SIZE)) return false;
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool osRenameFile(const char16_t* from, const char16_t* to) {
    if (osShouldFail(OS_RENAME)) return hookFailure(false);
    char nativeFrom[kNativePathBytes];
    char nativeTo[kNativePathBytes];
    bool renamed = toNative(from, nativeFrom, sizeof nativeFrom) &&
                   toNative(to, nativeTo, sizeof nativeTo) && rename(nativeFrom, nativeTo) == 0;
    return noteFailure(renamed, !renamed);
}

bool osRenameNew(const char16_t* from, const char16_t* to, bool* taken) {
    *taken = false;
    if (osShouldFail(OS_RENAME)) return hookFailure(false);
    char nativeFrom[kNativePathBytes];
    char nativeTo[kNativePathBytes];
    if (!toNative(from, nativeFrom, sizeof nativeFrom) || !toNative(to, nativeTo, sizeof nativeTo))
        return false;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, nativeFrom, AT_FDCWD, nativeTo, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        *taken = errno == EEXIST;
        return noteFailure(false, true);
    }
#endif
    // A new name for the same file fails when the target exists, on any file system
    // with links; the temporary name is then removed.
    if (link(nativeFrom, nativeTo) == 0) {
        unlink(nativeFrom);
        return true;
    }
    if (errno == EEXIST) {
        *taken = true;
        return false;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return noteFailure(false, true);
    // Neither (FAT without the flag on an old kernel): look, then rename. Only a file
    // made in the moment between the two can be replaced.
    struct stat st;
    if (lstat(nativeTo, &st) == 0) {
        *taken = true;
        return false;
    }
    bool renamed = rename(nativeFrom, nativeTo) == 0;
    return noteFailure(renamed, !renamed);
}

bool osDeleteFile(const char16_t* path) {
    char native[kNativePathBytes];
    return toNative(path, native, sizeof native) && unlink(native) == 0;
}

// ---------------------------------------------------------------------------
// Interruption: the open temporary file is removed, then the signal ends the process
// as it would have (the shell sees 128 + the signal number)
// ---------------------------------------------------------------------------

namespace {

char cleanupPath[kNativePathBytes];  // native path of the file to remove
volatile sig_atomic_t cleanupSet = 0;
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onInterrupt(int signo) {
    if (cleanupSet) unlink(cleanupPath);  // async-signal-safe
    signal(signo, SIG_DFL);
    raise(signo);
}

}  // namespace

void osSetInterruptCleanup(const char16_t* path, OsFile) {
    static bool installed = false;
    sigset_t all;
    sigset_t old;
    sigemptyset(&all);
    for (int signo : kInterruptSignals) sigaddset(&all, signo);
    sigprocmask(SIG_BLOCK, &all, &old);  // the handler never sees a half-written path
    if (!installed) {
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        for (int signo : kInterruptSignals) {
            struct sigaction previous;
            // A signal the caller ignores (nohup) stays ignored.
            if (sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            sigaction(signo, &action, nullptr);
        }
        installed = true;
    }
    cleanupSet = path != nullptr && toNative(path, cleanupPath, sizeof cleanupPath);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void osLastFileError(char* out, size_t size) {
    if (size > 0) std::snprintf(out, size, "%s", std::strerror(lastFileError));
}

bool osLastFileErrorIsFull() {
    return lastFileError == ENOSPC || lastFileError == EDQUOT;
}
