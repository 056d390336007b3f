// Ordered read of one large host directory: the sorted read of readHostDirectory
// against one ordered insert per entry, in the same run. Prints both times and
// their ratio; exits non-zero when the two child orders differ.
//
// Usage: bench_dirread [ENTRIES]   (default 100000; a temporary directory is used)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "hostfs/hostfs.h"
#include "run/context.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace fs = std::filesystem;

namespace {

constexpr long kDefaultEntries = 100000;

struct OneByOne {
    SyncContext* context;
    FileNode* directory;
};

// The baseline: every entry linked at once by its own ordered insert, after every
// child of a smaller or equal name.
void insertInOrder(FileNode* directory, FileNode* node) {
    FileNode** link = &directory->firstChild;
    while (*link != nullptr && compareNames(node->name, (*link)->name) >= 0)
        link = &(*link)->nextSibling;
    node->parent = directory;
    node->nextSibling = *link;
    *link = node;
}

void insertEach(void* state, const OsDirEntry* entry) {
    OneByOne* read = static_cast<OneByOne*>(state);
    if (entry->name == nullptr) return;
    insertInOrder(read->directory, newHostNode(&read->context->heap, entry));
}

// Wall time and processor time of one measured step: the machine may be shared, so
// processor time is the steadier figure.
struct Timer {
    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    double wall() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    }
    double cpu() const { return double(std::clock() - cpuStart) / CLOCKS_PER_SEC; }
};

void setRoot(SyncContext* context, const fs::path& dir) {
    std::u16string root = dir.u16string();
    std::memcpy(context->hostRoot, root.c_str(), (root.size() + 1) * sizeof(char16_t));
}

}  // namespace

int main(int argc, char** argv) {
    long entries = argc > 1 ? std::strtol(argv[1], nullptr, 10) : kDefaultEntries;
    if (entries <= 0) {
        std::fprintf(stderr, "usage: bench_dirread [ENTRIES]\n");
        return 2;
    }
    fs::path dir = fs::temp_directory_path() /
                   ("tandrix-dirread-" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    std::printf("creating %ld files in %s\n", entries, dir.string().c_str());
    std::fflush(stdout);
    for (long i = 0; i < entries; ++i) {
        // Mixed case and a spread of lengths, as in a photo folder.
        char name[64];
        std::snprintf(name, sizeof name, "%s_%07ld%s.jpg", (i % 3) ? "IMG" : "img",
                      (i * 7919) % entries, (i % 5) ? "" : "-edited");
        std::u16string path = (dir / name).u16string();
        OsFile file = osCreateNew(path.c_str());
        if (file == kNoFile) {
            std::fprintf(stderr, "cannot create %s\n", name);
            fs::remove_all(dir);
            return 2;
        }
        osCloseFile(file);
    }

    auto sorted = std::make_unique<SyncContext>();
    setRoot(sorted.get(), dir);
    heapInit(&sorted->heap, kRunHeapSize);
    Timer timer;
    bool read =
        readHostDirectory(&sorted->heap, sorted->hostRoot, &sorted->hostTop, &sorted->hostWalk);
    double sortedWall = timer.wall(), sortedCpu = timer.cpu();

    auto single = std::make_unique<SyncContext>();
    setRoot(single.get(), dir);
    heapInit(&single->heap, kRunHeapSize);
    std::u16string path = dir.u16string();
    OneByOne state{single.get(), &single->hostTop};
    timer = Timer();
    OsDirId readId{};
    bool readBaseline = osReadDirectory(path.c_str(), insertEach, &state, &readId);
    double singleWall = timer.wall(), singleCpu = timer.cpu();

    long count = 0;
    bool same = read && readBaseline;
    const FileNode* a = sorted->hostTop.firstChild;
    const FileNode* b = single->hostTop.firstChild;
    for (; a != nullptr && b != nullptr; a = a->nextSibling, b = b->nextSibling, ++count)
        if (std::u16string(a->name) != std::u16string(b->name)) same = false;
    if (a != nullptr || b != nullptr || count != entries) same = false;

    std::printf("entries:                 %ld\n", count);
    std::printf("sorted read:             %.3f s wall, %.3f s cpu\n", sortedWall, sortedCpu);
    std::printf("one insert each:        %.3f s wall, %.3f s cpu\n", singleWall, singleCpu);
    std::printf("ratio:                   %.1fx wall, %.1fx cpu\n", singleWall / sortedWall,
                sortedCpu > 0 ? singleCpu / sortedCpu : 0.0);
    std::printf("order:                   %s\n", same ? "identical" : "DIFFERENT");

    heapRelease(&sorted->heap);
    heapRelease(&single->heap);
    fs::remove_all(dir);
    return same ? 0 : 1;
}
