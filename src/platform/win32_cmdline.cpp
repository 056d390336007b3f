// Win32 back end of the command line: the raw command line as the source, '/' and
// '-' as switches, and read-only mappings of response files.
#include <windows.h>

#include "platform/platform.h"

bool osIsSwitchChar(char c) {
    return c == '/' || c == '-';
}

char osUsageSwitch() {
    return '/';
}

CommandSource osCommandSource(int argc, char** argv) {
    return CommandSource{GetCommandLineA(), argc, argv};
}

bool osMapFile(const char* name, MappedFile* file) {
    HANDLE handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // An empty file cannot be mapped: CreateFileMappingA refuses a zero size.
    HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    DWORD size = GetFileSize(handle, nullptr);
    CloseHandle(handle);
    if (!view) {
        if (mapping) CloseHandle(mapping);
        return false;
    }
    file->data = static_cast<const char*>(view);
    file->size = size;
    file->fileHandle = 0;
    file->mapHandle = reinterpret_cast<intptr_t>(mapping);
    return true;
}

void osUnmapFile(MappedFile* file) {
    if (file->data) UnmapViewOfFile(file->data);
    if (file->mapHandle) CloseHandle(reinterpret_cast<HANDLE>(file->mapHandle));
    file->data = nullptr;
    file->size = 0;
    file->mapHandle = 0;
}
