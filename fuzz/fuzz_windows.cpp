// A whole run (comparison, push and pull with requests in flight) against a hostile
// device: after a fixed handshake, the input is the sync reply stream. The host root
// is a scratch folder with a few files. Whatever the replies, nothing may be written
// outside the scratch root, and every file that is new or changed below it must hold
// exactly the DATA bytes of the reply to its own RECV, in order, up to its DONE: the
// reply stream is split into replies by the requests the run sent, in their order.
// The first input byte picks the device's v2 features (bits 0 and 1), recursion (bit 2)
// and whether replies are there before they were asked for (bit 3).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "adb/connection.h"
#include "fuzz_net.h"
#include "run/context.h"
#include "run/options.h"
#include "run/rundriver.h"
#include "support/errors.h"
#include "support/heap.h"

namespace fs = std::filesystem;

namespace {

struct HostFile {
    const char* path;
    const char* bytes;
    int64_t seconds;
};

// The host tree of every run: one file older than the seeds' device copy, one newer,
// one equal, one only on the host.
const HostFile kHostFiles[] = {{"old.txt", "host old\n", 1500000000},
                               {"new.txt", "host new\n", 1700000000},
                               {"sub/keep.bin", "keep", 1600000000},
                               {"sub/host.only", "mine", 1600000000}};

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

uint32_t le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

struct Request {
    std::string id;
    std::string path;
};

// The sync requests in the order sent; a SEND's DATA and DONE records are skipped.
std::vector<Request> sentRequests(const std::string& sent) {
    std::vector<Request> out;
    size_t at = 0;
    for (int host = 0; host < 2 && at + 4 <= sent.size(); ++host)  // transport, sync:
        at += 4 + std::stoul(sent.substr(at, 4), nullptr, 16);
    while (at + 8 <= sent.size()) {
        std::string id = sent.substr(at, 4);
        uint32_t length = le32(sent, at + 4);
        at += 8;
        if (id == "DATA") {
            at += length;
            continue;
        }
        if (id == "DONE") continue;
        out.push_back({id, sent.substr(at, length)});
        at += length;
    }
    return out;
}

struct Pulled {
    bool done = false;
    std::string bytes;
};

struct Framing {
    std::vector<size_t> replyEnds;         // where each reply ends, in the order of requests
    std::map<std::string, Pulled> pulled;  // what each RECV's reply carried before DONE
};

// The replies split as the protocol frames them, reply after reply in the order of
// the requests. Stops where the stream ends or an id fits no reply of its request.
Framing frameReplies(const std::vector<Request>& requests, const std::string& replies) {
    Framing out;
    size_t at = 0;
    auto have = [&](size_t count) { return at + count <= replies.size(); };
    for (const Request& request : requests) {
        if (request.id == "QUIT") break;
        if (request.id == "STAT" || request.id == "LST2") {
            at += request.id == "LST2" ? 72 : 16;
            if (!have(0)) return out;
        } else if (request.id == "LIST" || request.id == "LIS2") {
            bool v2 = request.id == "LIS2";
            size_t fields = v2 ? 72 : 16;
            for (;;) {
                if (!have(4 + fields)) return out;
                std::string id = replies.substr(at, 4);
                if (id != "DONE" && id != (v2 ? "DNT2" : "DENT")) return out;
                at += 4 + fields;
                at += le32(replies, at - 4);  // the name (DONE's too)
                if (!have(0)) return out;
                if (id == "DONE") break;
            }
        } else if (request.id == "SEND") {
            if (!have(8)) return out;
            std::string id = replies.substr(at, 4);
            if (id != "OKAY" && id != "FAIL") return out;
            at += 8 + le32(replies, at + 4);
            if (!have(0)) return out;
        } else if (request.id == "RECV") {
            Pulled& pulled = out.pulled[request.path];
            for (;;) {
                if (!have(8)) return out;
                std::string id = replies.substr(at, 4);
                uint32_t length = le32(replies, at + 4);
                at += 8;
                if (!have(length)) return out;
                if (id == "DATA") {
                    pulled.bytes += replies.substr(at, length);
                } else if (id == "DONE") {
                    pulled.done = true;
                } else if (id != "FAIL") {
                    return out;
                }
                at += length;
                if (id != "DATA") break;
            }
        } else {
            return out;
        }
        out.replyEnds.push_back(at);
    }
    return out;
}

// The sync replies: "OKAY" for the transport and for sync:, then the input.
std::string syncReplies;
constexpr size_t kHandshakeBytes = 8;

// A device that answers only what it was asked: the replies up to the end of the last
// request's reply; all of them once the stream no longer frames.
size_t answeredBytes(const std::string& sent) {
    std::vector<Request> requests = sentRequests(sent);
    if (requests.empty()) return kHandshakeBytes;
    Framing framing = frameReplies(requests, syncReplies.substr(kHandshakeBytes));
    if (framing.replyEnds.size() < requests.size()) return syncReplies.size();
    return kHandshakeBytes + framing.replyEnds[requests.size() - 1];
}

void makeHostTree(const fs::path& root) {
    fs::create_directories(root / "sub");
    for (const HostFile& file : kHostFiles) {
        std::ofstream(root / file.path, std::ios::binary) << file.bytes;
        timespec times[2] = {{file.seconds, 0}, {file.seconds, 0}};
        utimensat(AT_FDCWD, (root / file.path).c_str(), times, 0);
    }
}

// The two properties; a breach stops the fuzzer.
void checkHostSide(const fs::path& scratch, const fs::path& root,
                   const std::map<std::string, Pulled>& pulled) {
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch))
        if (entry.path() != root) {
            std::fprintf(stderr, "written outside the root: %s\n", entry.path().c_str());
            __builtin_trap();
        }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string relative = entry.path().lexically_relative(root).string();
        std::string bytes = readWhole(entry.path());
        bool unchanged = false;
        for (const HostFile& file : kHostFiles)
            if (relative == file.path && bytes == file.bytes) unchanged = true;
        if (unchanged) continue;
        auto it = pulled.find("/sdcard/" + relative);
        if (it == pulled.end() || !it->second.done || it->second.bytes != bytes) {
            std::fprintf(stderr, "%s holds %zu bytes not sent for it in order\n", relative.c_str(),
                         bytes.size());
            __builtin_trap();
        }
    }
}

SyncContext context;  // large: static storage, as in main

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const fs::path scratch = [] {
        char name[] = "/tmp/fuzz_windows.XXXXXX";
        return fs::path(mkdtemp(name));
    }();
    const fs::path root = scratch / "root";
    fs::remove_all(root);
    makeHostTree(root);

    bool statV2 = (data[0] & 1) != 0, listV2 = (data[0] & 2) != 0;
    std::string features = statV2 && listV2 ? "stat_v2,ls_v2"
                           : statV2         ? "stat_v2"
                           : listV2         ? "ls_v2"
                                            : "shell_v2";
    char length[5];
    std::snprintf(length, sizeof length, "%04zx", features.size());
    const std::string featureReply = "OKAY" + std::string(length) + features;
    syncReplies = "OKAYOKAY" + std::string(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string rootArg = root.string();
    std::vector<std::string> words{"tandrix", "-q", "-hcus", "-acus", rootArg, "sdcard"};
    if (data[0] & 4) words.insert(words.begin() + 1, "-s");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    fuzzSetReplies(reinterpret_cast<const unsigned char*>(featureReply.data()),
                   featureReply.size());
    fuzzSetNextReplies(reinterpret_cast<const unsigned char*>(syncReplies.data()),
                       syncReplies.size(), (data[0] & 8) ? nullptr : answeredBytes);
    try {
        if (readCommandLine(&context, osCommandSource(int(words.size()), argv.data())) == 0)
            runSync(&context);
    } catch (const SyncError&) {
        // a refused reply: the run would end here with its message
    }
    adbRelease(&context.conn);
    if (context.heap.base != nullptr) heapRelease(&context.heap);

    checkHostSide(
        scratch, root,
        frameReplies(sentRequests(fuzzSentBytes()), syncReplies.substr(kHandshakeBytes)).pulled);
    return 0;
}
