// adbsim's file sync service, as a device's adbd answers it: STAT, LIST, SEND with
// its DATA and DONE records, RECV and QUIT, the v2 records STA2, LST2 and LIS2 when
// the device offers them, with the faults of each step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adbsim.h"

namespace adbsim {

namespace {

struct FileCloser {
    int fd = -1;
    ~FileCloser() {
        if (fd >= 0) close(fd);
    }
};

// A SEND's temporary file, removed unless it was renamed into place.
struct TempFile {
    std::string path;
    int fd = -1;
    ~TempFile() {
        if (fd >= 0) close(fd);
        if (!path.empty()) unlink(path.c_str());
    }
};

// Returns 0 or an errno value.
int writeFully(int fd, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        data += n;
        length -= std::size_t(n);
    }
    return 0;
}

std::string errnoText(int error) {
    return std::strerror(error);
}

std::string le64(uint64_t value) {
    return le32(uint32_t(value)) + le32(uint32_t(value >> 32));
}

// The v2 fields after the id: error, dev, ino, mode, nlink, uid, gid, size, atime,
// mtime, ctime; all zero but the error when the entry could not be read.
std::string v2Fields(uint32_t error, uint32_t mode, uint64_t size, uint64_t time, uint64_t dev = 0,
                     uint64_t ino = 0) {
    if (error != 0) return le32(error) + std::string(64, '\0');
    return le32(0) + le64(dev) + le64(ino) + le32(mode) + le32(1) + le32(0) + le32(0) + le64(size) +
           le64(time) + le64(time) + le64(time);
}

// STAT (v1), or STA2 (stat) and LST2 (lstat), whose reply echoes the request id.
void serveStat(Session& session, const std::string& id, const std::string& path) {
    StepPlan plan = beginStep(session, Step::Stat, path);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        return;
    }
    bool v2 = id != "STAT";
    EntryInfo info{0, 0, 0};
    uint32_t error = 0;
    std::string hostPath;
    if (plan.statReply) {
        info = EntryInfo{plan.statReply->mode, plan.statReply->size, int64_t(plan.statReply->time)};
    } else if (!mapDevicePath(*session.device, path, hostPath)) {
        error = ENOENT;
    } else if (auto found = statEntry(hostPath, id == "STA2")) {
        info = *found;
    } else {
        error = uint32_t(errno);
    }
    if (v2)
        sendRecord(session, id + v2Fields(error, info.mode, info.size, uint64_t(info.time),
                                          info.dev, info.ino));
    // The v1 record has 32 bits for each: larger sizes and times keep their low bits.
    else
        sendRecord(session, "STAT" + le32(info.mode) + le32(uint32_t(info.size)) +
                                le32(uint32_t(info.time)));
}

// One record of a LIST reply (DENT, or DONE at the end), or with v2 of a LIS2 reply
// (DNT2, or a DONE of the same size).
std::string dentRecord(bool v2, bool done, const DentRecord& dent) {
    std::string name = le32(uint32_t(dent.name.size())) + dent.name;
    if (v2)
        return (done ? "DONE" : "DNT2") +
               v2Fields(dent.error, dent.mode, dent.size, dent.time, dent.dev, dent.ino) + name;
    if (dent.error != 0)
        return "DENT" + std::string(12, '\0') + name;  // a v1 device's entry it cannot stat
    return (done ? "DONE" : "DENT") + le32(dent.mode) + le32(uint32_t(dent.size)) +
           le32(uint32_t(dent.time)) + name;
}

// LIST with DENT records, or LIS2 with DNT2 records; both end with DONE.
void serveList(Session& session, const std::string& id, const std::string& path) {
    StepPlan plan = beginStep(session, Step::List, path);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        return;
    }
    bool v2 = id == "LIS2";
    // The whole listing goes out in one write, as small records one by one would
    // each wait for the network.
    std::string reply;
    std::string hostPath;
    if (mapDevicePath(*session.device, path, hostPath)) {
        for (const std::string& name : listNames(hostPath, session.config->listOrder)) {
            auto info = statEntry(hostPath + "/" + name, session.config->followLinks);
            if (!info) continue;  // gone since the directory was read
            reply += dentRecord(v2, false,
                                DentRecord{info->mode, info->size, uint64_t(info->time), name, 0,
                                           info->dev, info->ino});
        }
    }
    for (const DentRecord& dent : plan.dents) reply += dentRecord(v2, false, dent);
    reply += dentRecord(v2, true, DentRecord{0, 0, 0, ""});
    sendRecord(session, reply);
}

// A failed SEND: like adbd, read and drop the rest of the transfer up to DONE
// (the client may still be sending), then close the connection.
[[noreturn]] void skipRestOfSend(Session& session) {
    static thread_local unsigned char sink[kMaxSyncData];  // daemon streams run in threads
    for (;;) {
        unsigned char header[kSyncHeaderSize];
        receiveExact(session, header, sizeof header);
        std::string id(reinterpret_cast<char*>(header), kIdSize);
        uint32_t length = readLe32(header + kIdSize);
        if (id == "DONE") {
            logRequest("DONE " + std::to_string(length));
            throw SessionEnd{"SEND failed"};
        }
        if (id != "DATA" || length > kMaxSyncData) {
            logRequest("UNKNOWN " + printable(id) + " " + std::to_string(length));
            throw SessionEnd{"bad record in a failed SEND"};
        }
        receiveExact(session, sink, length);
        logRequest("DATA " + std::to_string(length));
    }
}

[[noreturn]] void failSend(Session& session, const std::string& text) {
    sendSyncFail(session, text);
    skipRestOfSend(session);
}

void serveSend(Session& session, const std::string& payload) {
    std::size_t comma = payload.rfind(',');
    std::string path = comma == std::string::npos ? payload : payload.substr(0, comma);
    StepPlan plan = beginStep(session, Step::Send, path);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        skipRestOfSend(session);
    }
    if (plan.fail) failSend(session, *plan.fail);
    if (comma == std::string::npos) failSend(session, "missing , in ID_SEND");
    unsigned long mode = std::strtoul(payload.c_str() + comma + 1, nullptr, 10);
    bool discard = plan.discardData;
    std::optional<std::string> okayText = plan.okayText;

    std::string hostPath;
    TempFile temp;
    if (!discard) {
        if (!mapDevicePath(*session.device, path, hostPath))
            failSend(session, "couldn't create file: " + errnoText(EACCES));
        struct stat st;
        if (stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            failSend(session, "couldn't create file: " + errnoText(EISDIR));
        if (int e = makeParentDirs(hostPath))
            failSend(session, "couldn't create file: " + errnoText(e));
        std::string pattern = hostPath + ".adbsim-XXXXXX";
        temp.fd = mkstemp(pattern.data());
        if (temp.fd < 0) failSend(session, "couldn't create file: " + errnoText(errno));
        temp.path = pattern;
        fchmod(temp.fd, mode_t(mode & 07777));
    }

    static thread_local unsigned char data[kMaxSyncData];
    uint64_t total = 0;
    for (;;) {
        unsigned char header[kSyncHeaderSize];
        receiveExact(session, header, sizeof header);
        std::string id(reinterpret_cast<char*>(header), kIdSize);
        uint32_t length = readLe32(header + kIdSize);
        if (id == "DATA") {
            if (length > kMaxSyncData) {
                logRequest("DATA " + std::to_string(length));
                sendSyncFail(session, "oversize data message");
                throw SessionEnd{"DATA record longer than 65536 bytes"};
            }
            receiveExact(session, data, length);
            logRequest("DATA " + std::to_string(length));
            total += length;
            StepPlan dataPlan = beginStep(session, Step::Data, path);
            if (dataPlan.raw) {
                sendBytes(session, dataPlan.raw->data(), dataPlan.raw->size());
                skipRestOfSend(session);
            }
            if (dataPlan.fail) failSend(session, *dataPlan.fail);
            if (!discard) {
                if (int e = writeFully(temp.fd, data, length))
                    failSend(session, "write failed: " + errnoText(e));
            }
            continue;
        }
        if (id != "DONE") {
            logRequest("UNKNOWN " + printable(id) + " " + std::to_string(length));
            sendSyncFail(session, "invalid data message");
            throw SessionEnd{"unknown record in a SEND"};
        }
        logRequest("DONE " + std::to_string(length) +
                   (discard ? " bytes=" + std::to_string(total) : ""));
        StepPlan donePlan = beginStep(session, Step::Done, path);
        if (donePlan.okayText) okayText = donePlan.okayText;
        if (donePlan.raw) {
            sendBytes(session, donePlan.raw->data(), donePlan.raw->size());
            return;
        }
        if (donePlan.fail) {
            sendSyncFail(session, *donePlan.fail);
            throw SessionEnd{"SEND refused after DONE"};
        }
        if (!discard) {
            timespec times[2] = {{time_t(length), 0}, {time_t(length), 0}};
            if (futimens(temp.fd, times) != 0) {
                sendSyncFail(session, "couldn't set time: " + errnoText(errno));
                throw SessionEnd{"SEND failed"};
            }
            close(temp.fd);
            temp.fd = -1;
            if (rename(temp.path.c_str(), hostPath.c_str()) != 0) {
                sendSyncFail(session, "couldn't rename file: " + errnoText(errno));
                throw SessionEnd{"SEND failed"};
            }
            temp.path.clear();
        }
        std::string text = okayText.value_or("");
        sendRecord(session, "OKAY" + le32(uint32_t(text.size())) + text);
        return;
    }
}

// True when the reply is to go out once more (the `twice` fault, not on `again`).
bool serveRecv(Session& session, const std::string& path, bool again = false) {
    StepPlan plan = beginStep(session, Step::Recv, path);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        return false;
    }
    if (plan.fail && !plan.failAfter) {
        sendSyncFail(session, *plan.fail);
        throw SessionEnd{"RECV refused"};
    }
    std::string hostPath;
    FileCloser file;
    if (!mapDevicePath(*session.device, path, hostPath)) {
        sendSyncFail(session, errnoText(ENOENT));
        throw SessionEnd{"RECV failed"};
    }
    int error = 0;
    struct stat st;
    file.fd = open(hostPath.c_str(), O_RDONLY);
    if (file.fd < 0)
        error = errno;
    else if (fstat(file.fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    if (error) {
        sendSyncFail(session, errnoText(error));
        throw SessionEnd{"RECV failed"};
    }

    uint64_t chunk = plan.chunk.value_or(session.config->recvChunk);
    std::string buffer;
    // The last DATA record goes out with what follows it, so that a small file's
    // DATA and DONE are one write, as a device daemon's are: two small writes reach
    // the client as two, and the second waits for the client's delayed ACK.
    std::string held;
    uint64_t sent = 0;
    bool first = true;
    for (;;) {
        uint64_t want = chunk;
        if (plan.size) want = std::min<uint64_t>(want, *plan.size - sent);
        if (plan.failAfter) want = std::min<uint64_t>(want, *plan.failAfter - sent);
        if (want == 0) break;
        buffer.assign(std::size_t(want), '\0');
        ssize_t n = read(file.fd, buffer.data(), buffer.size());
        if (n < 0) {
            sendSyncFail(session, "read failed: " + errnoText(errno));
            throw SessionEnd{"RECV failed"};
        }
        if (n == 0 && !plan.size) break;  // end of file; with a size, pad with zeros
        if (!plan.size) buffer.resize(std::size_t(n));
        uint32_t announced = uint32_t(buffer.size());
        if (first && plan.dataLength) announced = *plan.dataLength;
        first = false;
        if (!held.empty()) sendRecord(session, held);
        held = "DATA" + le32(announced) + buffer;
        sent += buffer.size();
    }
    if (plan.fail) {
        if (!held.empty()) sendRecord(session, held);
        sendSyncFail(session, *plan.fail);
        throw SessionEnd{"RECV failed as asked"};
    }
    std::string text = plan.doneText.value_or("");
    sendRecord(session, held + "DONE" + le32(uint32_t(text.size())) + text);
    if (plan.dataAfterDone)
        sendRecord(session, "DATA" + le32(uint32_t(*plan.dataAfterDone)) +
                                std::string(std::size_t(*plan.dataAfterDone), 'x'));
    return plan.twice && !again;
}

}  // namespace

void serveSync(Session& session) {
    std::string payload;
    for (;;) {
        unsigned char header[kSyncHeaderSize];
        receiveExact(session, header, sizeof header);
        std::string id(reinterpret_cast<char*>(header), kIdSize);
        uint32_t length = readLe32(header + kIdSize);
        bool v2 = id == "STA2" || id == "LST2" || id == "LIS2";
        bool known = id == "STAT" || id == "LIST" || id == "SEND" || id == "RECV" || id == "QUIT" ||
                     (v2 && session.config->syncV2);
        if (!known) {
            logRequest("UNKNOWN " + printable(id) + " " + std::to_string(length));
            throw SessionEnd{"unknown sync request " + printable(id)};
        }
        if (length > kMaxSyncPath) {
            logRequest(id + " length=" + std::to_string(length));
            sendSyncFail(session, "path too long");
            throw SessionEnd{"sync request path too long"};
        }
        payload.assign(length, '\0');
        receiveExact(session, payload.data(), length);
        logRequest(id == "QUIT" && length == 0 ? id : id + " " + printable(payload));
        if (id == "STAT" || id == "STA2" || id == "LST2")
            serveStat(session, id, payload);
        else if (id == "LIST" || id == "LIS2")
            serveList(session, id, payload);
        else if (id == "SEND")
            serveSend(session, payload);
        else if (id == "RECV") {
            if (serveRecv(session, payload)) serveRecv(session, payload, true);
        } else {
            StepPlan plan = beginStep(session, Step::Quit, "");
            if (plan.raw) sendBytes(session, plan.raw->data(), plan.raw->size());
            return;
        }
    }
}

}  // namespace adbsim
