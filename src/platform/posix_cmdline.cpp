// POSIX back end of the command line: argv words as the source, '-' as the only
// switch, and read-only mappings of response files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

bool osIsSwitchChar(char c) {
    return c == '-';
}

char osUsageSwitch() {
    return '-';
}

CommandSource osCommandSource(int argc, char** argv) {
    return CommandSource{nullptr, argc, argv};
}

bool osMapFile(const char* name, MappedFile* file) {
    // O_NONBLOCK: a FIFO without a writer must not hang the open; it is refused below.
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info;
    void* data = MAP_FAILED;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    close(fd);
    if (data == MAP_FAILED) return false;
    file->data = static_cast<const char*>(data);
    file->size = size_t(info.st_size);
    file->fileHandle = -1;
    file->mapHandle = -1;
    return true;
}

void osUnmapFile(MappedFile* file) {
    if (file->data) munmap(const_cast<char*>(file->data), file->size);
    file->data = nullptr;
    file->size = 0;
}
