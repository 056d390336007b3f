// adbsim: a stand-in for the ADB server and the devices behind it, for tests.
// The records every part shares and the functions each source file offers.
//
// Files: main.cpp (listening loop), options.cpp (command line, scenario and fault
// syntax), faults.cpp (which faults fire at a step), wire.cpp (socket reads and
// writes with the reply faults), hostservices.cpp (host: requests), syncservice.cpp
// (STAT, LIST, SEND, RECV, QUIT), devicefs.cpp (device paths on a host directory),
// requestlog.cpp (the request log), replydelay.cpp (replies held for --delay-ms),
// daemon.cpp (the device-daemon mode: the transport protocol towards a real ADB
// server, each sync stream in a thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace adbsim {

constexpr unsigned kDefaultPort = 5037;       // the ADB server's port
constexpr std::size_t kIdSize = 4;            // host status words and sync record ids
constexpr std::size_t kSyncHeaderSize = 8;    // sync record: id and 32-bit little-endian length
constexpr std::size_t kMaxSyncData = 65536;   // largest DATA record a device accepts or sends
constexpr std::size_t kMaxSyncPath = 1024;    // longest sync request payload a device accepts
constexpr std::size_t kHostLengthDigits = 4;  // host request and FAIL lengths: four hex digits
constexpr std::size_t kMaxHostText = 0xFFFF;  // largest length four hex digits can carry

// One device: its serial and the host directory that holds its file system.
struct Device {
    std::string serial;
    std::string root;  // device path /sdcard/x is root + "/sdcard/x"
    bool local;        // an emulator ("emulator-..."), chosen by host:transport-local
};

// Where a fault applies: the named steps of a connection, in the order they happen.
enum class Step {
    Any,        // the whole connection (close-after, trickle)
    Connect,    // a connection was accepted
    Transport,  // a host:transport... request
    Features,   // a host:features, host-local:features or host-serial:S:features request
    Sync,       // the sync: request
    Stat,
    List,
    Send,  // the SEND request itself
    Data,  // one DATA record of a SEND, once read
    Done,  // the DONE record of a SEND
    Recv,
    Quit,
    Count
};

enum class Action {
    Fail,           // FAIL with a text
    FailAfter,      // RECV: FAIL after N bytes of data
    Close,          // close the connection now
    CloseAfter,     // close the connection after N more reply bytes
    Stall,          // sleep S seconds (or forever) before replying
    Id,             // the next record sent carries this id instead
    Raw,            // these bytes instead of the reply
    Reply,          // STAT: this mode, size and time
    Dent,           // LIST: one more DENT record
    Trickle,        // replies go out one byte every N ms
    DiscardData,    // SEND: count the data, store nothing
    Size,           // RECV: send exactly N bytes of content (cut or padded with zeros)
    DataLength,     // RECV: the first DATA record announces N bytes, whatever follows
    DataAfterDone,  // RECV: one more DATA record of N bytes after DONE
    DoneText,       // RECV: the DONE record carries a text
    OkayText,       // SEND: the OKAY status carries a text
    Chunk,          // RECV: DATA records of N bytes
    DentError,      // LIST: one more entry that the device could not stat (v2: its errno)
    Twice,          // RECV: the whole reply goes out twice, as to two requests
    Vanish,         // close, and the devices are gone for N ms
    Count
};

// One fault, parsed from a --fault RULE or a scenario line.
struct Fault {
    Step step = Step::Any;
    unsigned occurrence = 0;  // fires on this match only (1-based); 0 = on every match
    bool runWide = false;     // occurrence counts the matches of every connection
    bool hasPath = false;     // fires only for requests naming this device path
    std::string path;
    Action action = Action::Fail;
    std::string text;      // FAIL/OKAY/DONE text, raw bytes, record id, DENT name
    uint32_t mode = 0;     // Reply, Dent
    uint64_t size = 0;     // Reply, Dent (v1 records carry the low 32 bits)
    uint64_t time = 0;     // Reply, Dent
    uint64_t count = 0;    // bytes, or milliseconds for Stall and Trickle
    bool forever = false;  // Stall
    std::string rule;      // as written, for messages
};

enum class ListOrder { Sorted, Reverse, Native };

struct Config {
    unsigned port = kDefaultPort;
    bool once = false;
    std::string readyFile;
    std::string logFile;
    std::vector<Device> devices;
    std::vector<Fault> faults;
    std::size_t recvChunk = kMaxSyncData;  // bytes per RECV DATA record
    ListOrder listOrder = ListOrder::Sorted;
    unsigned idleTimeout = 0;  // seconds without a request byte before closing; 0 = none
    unsigned delayMs = 0;      // every reply reaches the client this much later
    bool syncV2 = true;        // offer stat_v2 and ls_v2 and serve STA2, LST2, LIS2
    bool followLinks = false;  // listings show what a link points to, as a bind mount would
};

// What the faults that fired at one step ask of its handler. Stall, close,
// close-after, trickle and id are carried out by beginStep itself.
struct DentRecord {
    uint32_t mode;
    uint64_t size;
    uint64_t time;  // Unix seconds; v2 records read it as signed
    std::string name;
    uint32_t error = 0;  // v2: the entry's errno; v1 sends such an entry all zero
    uint64_t dev = 0;    // v2: device and inode numbers
    uint64_t ino = 0;
};

struct StepPlan {
    std::optional<std::string> fail;      // FAIL text
    std::optional<uint64_t> failAfter;    // RECV: bytes of data before the FAIL
    std::optional<std::string> raw;       // bytes that replace the reply
    std::optional<DentRecord> statReply;  // STAT: chosen reply (name unused)
    std::vector<DentRecord> dents;        // LIST: injected records
    bool discardData = false;
    std::optional<uint64_t> size;           // RECV
    std::optional<uint32_t> dataLength;     // RECV
    std::optional<uint64_t> dataAfterDone;  // RECV
    std::optional<std::string> doneText;    // RECV
    std::optional<std::string> okayText;    // SEND
    std::optional<uint64_t> chunk;          // RECV
    bool twice = false;                     // RECV
};

struct ReplyDelay;

// One connection being served.
struct Session {
    int fd = -1;
    const Config* config = nullptr;
    const Device* device = nullptr;  // bound by a transport request
    uint64_t bytesSent = 0;
    uint64_t closeAt = UINT64_MAX;      // close once this many reply bytes went out
    unsigned trickleMs = 0;             // connection-wide trickle
    unsigned stepTrickleMs = 0;         // trickle of the current step's reply
    std::string nextId;                 // replaces the id of the next record sent
    std::vector<unsigned> hits;         // per fault: how often its step and path matched
    std::shared_ptr<ReplyDelay> delay;  // --delay-ms: the queue of replies not yet due
};

// Thrown to end a connection; caught once where the connection is served.
struct SessionEnd {
    std::string reason;
};

// options.cpp
// One command-line word: "--name=value" split at its '=', any other word as it is.
struct OptionWord {
    std::string option;
    std::string value;
    bool inlineValue;  // the value came with the name
};
OptionWord splitOption(const char* word);
Config parseCommandLine(int argc, char** argv);  // prints a message and exits 2 on errors
const char* stepName(Step step);

// faults.cpp
void startSession(Session& session);  // applies the connection-wide faults
bool devicesVanished();               // a vanish rule fired and its time is not over
StepPlan beginStep(Session& session, Step step, const std::string& path);

// wire.cpp
extern volatile int stopRequested;  // set by SIGTERM/SIGINT
void receiveExact(Session& session, void* data, std::size_t length);
void sendBytes(Session& session, const void* data, std::size_t length);
void sendRecord(Session& session, std::string record);  // first four bytes are the id
void sendSyncFail(Session& session, const std::string& text);
void pauseFor(Session& session, uint64_t milliseconds, bool forever);
std::string le32(uint32_t value);
uint32_t readLe32(const unsigned char* bytes);

// replydelay.cpp (--delay-ms)
void startReplyDelay(Session& session);  // nothing without --delay-ms
void queueDelayedReply(Session& session, const unsigned char* data, std::size_t length);
void finishReplyDelay(Session& session);  // waits until the queued replies went out

// main.cpp
int listenOn(unsigned& port);  // a listening socket on 127.0.0.1:port (0 = any; port is set), or -1
bool writeReadyFile(const std::string& file, unsigned port);

// daemon.cpp: the device-daemon mode, for a real ADB server
bool isDaemonCommandLine(int argc, char** argv);
int runDaemon(int argc, char** argv);

// hostservices.cpp
// Serves the host requests (one connection at a time: the log keeps their order);
// sync mode goes on in a thread added to `syncThreads`, or here when that is null.
void serveConnection(const Config& config, int fd, std::vector<std::thread>* syncThreads);
// The feature list a device announces: with v2 records or without.
const char* featureList(const Config& config);

// syncservice.cpp
void serveSync(Session& session);  // returns when the connection is to be closed

// devicefs.cpp
struct EntryInfo {
    uint32_t mode;
    uint64_t size;
    int64_t time;      // Unix seconds
    uint64_t dev = 0;  // device and inode numbers (v2 records)
    uint64_t ino = 0;
};
bool mapDevicePath(const Device& device, const std::string& path, std::string& hostPath);
// lstat (stat with `follow`); nullopt with errno set when it fails.
std::optional<EntryInfo> statEntry(const std::string& hostPath, bool follow = false);
std::vector<std::string> listNames(const std::string& hostPath,
                                   ListOrder order);  // empty when unreadable
int makeParentDirs(const std::string& hostPath);      // 0 or an errno value

// requestlog.cpp
void openRequestLog(const std::string& file);
void logRequest(const std::string& line);
std::string printable(const std::string& bytes);  // control bytes and '\' as escapes
void note(const std::string& message);            // one line on standard error

}  // namespace adbsim
