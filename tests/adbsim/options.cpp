// adbsim's command line, scenario files and the fault syntax (see README.md):
//   RULE  = WHERE ACTION ARGS...
//   WHERE = any | STEP[#K|@K][=PATH]
// Words are split at blanks; double quotes group blanks into a word; backslash
// escapes (\n \t \r \0 \s \\ \" \xHH, and \{N} repeating the byte before) are
// decoded in texts, ids, names and paths.
#include <sys/stat.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "adbsim.h"

namespace adbsim {

namespace {

constexpr unsigned kMaxRepeat = 1u << 20;  // largest \{N}: a megabyte of one byte

// Step names, in the order of enum Step.
const char* const kStepNames[] = {
    "any",        // Step::Any
    "connect",    // Step::Connect
    "transport",  // Step::Transport
    "features",   // Step::Features
    "sync",       // Step::Sync
    "stat",       // Step::Stat
    "list",       // Step::List
    "send",       // Step::Send
    "data",       // Step::Data
    "done",       // Step::Done
    "recv",       // Step::Recv
    "quit",       // Step::Quit
};
static_assert(sizeof kStepNames / sizeof kStepNames[0] == std::size_t(Step::Count));

constexpr unsigned bit(Step step) {
    return 1u << unsigned(step);
}
constexpr unsigned kEveryStep = (1u << unsigned(Step::Count)) - 1 - bit(Step::Any);
constexpr unsigned kWithPath = bit(Step::Transport) | bit(Step::Features) | bit(Step::Stat) |
                               bit(Step::List) | bit(Step::Send) | bit(Step::Data) |
                               bit(Step::Done) | bit(Step::Recv);

// One row per action. Argument letters: t text, n count, s seconds or "forever",
// i four-byte record id, m mode (32-bit), z size, h time (64-bit; v1 records carry
// the low 32 bits).
struct ActionRow {
    const char* name;
    const char* arguments;
    unsigned steps;  // where the action may be used
};
const ActionRow kActions[] = {
    {"fail", "t",
     bit(Step::Transport) | bit(Step::Features) | bit(Step::Sync) | bit(Step::Send) |
         bit(Step::Data) | bit(Step::Done) | bit(Step::Recv)},  // Action::Fail
    {"fail-after", "nt", bit(Step::Recv)},                      // Action::FailAfter
    {"close", "", kEveryStep},                                  // Action::Close
    {"close-after", "n", kEveryStep | bit(Step::Any)},          // Action::CloseAfter
    {"stall", "s", kEveryStep},                                 // Action::Stall
    {"id", "i",
     bit(Step::Transport) | bit(Step::Features) | bit(Step::Sync) | bit(Step::Stat) |
         bit(Step::List) | bit(Step::Send) | bit(Step::Done) | bit(Step::Recv)},  // Action::Id
    {"raw", "t", kEveryStep & ~bit(Step::Connect)},                               // Action::Raw
    {"reply", "mzh", bit(Step::Stat)},                                            // Action::Reply
    {"dent", "mzht", bit(Step::List)},                                            // Action::Dent
    {"trickle", "n", kEveryStep | bit(Step::Any)},                                // Action::Trickle
    {"discard-data", "", bit(Step::Send)},                  // Action::DiscardData
    {"size", "n", bit(Step::Recv)},                         // Action::Size
    {"data-length", "n", bit(Step::Recv)},                  // Action::DataLength
    {"data-after-done", "n", bit(Step::Recv)},              // Action::DataAfterDone
    {"done-text", "t", bit(Step::Recv)},                    // Action::DoneText
    {"okay-text", "t", bit(Step::Send) | bit(Step::Done)},  // Action::OkayText
    {"chunk", "n", bit(Step::Recv)},                        // Action::Chunk
    {"dent-error", "nt", bit(Step::List)},                  // Action::DentError
    {"twice", "", bit(Step::Recv)},                         // Action::Twice
    {"vanish", "s", kEveryStep},                            // Action::Vanish
};
static_assert(sizeof kActions / sizeof kActions[0] == std::size_t(Action::Count));

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "adbsim: %s\n(adbsim --help lists the options)\n", message.c_str());
    std::exit(2);
}

struct SpecError {
    std::string message;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decodeEscapes(const std::string& word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); i++) {
        char c = word[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= word.size()) throw SpecError{"a '\\' ends the word"};
        switch (char e = word[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        case 's':
            out += ' ';
            break;
        case '\\':
        case '"':
            out += e;
            break;
        case 'x': {
            int high = i + 1 < word.size() ? hexDigit(word[i + 1]) : -1;
            int low = i + 2 < word.size() ? hexDigit(word[i + 2]) : -1;
            if (high < 0 || low < 0) throw SpecError{"\\x needs two hex digits"};
            out += char(high * 16 + low);
            i += 2;
            break;
        }
        case '{': {
            std::size_t close = word.find('}', i);
            if (close == std::string::npos || out.empty())
                throw SpecError{"\\{N} needs a byte before it and a '}'"};
            std::string digits = word.substr(i + 1, close - i - 1);
            char* end = nullptr;
            unsigned long n = std::strtoul(digits.c_str(), &end, 10);
            if (digits.empty() || *end || n > kMaxRepeat)
                throw SpecError{"bad repeat count in \\{" + digits + "}"};
            char last = out.back();
            out.pop_back();
            out.append(n, last);
            i = close;
            break;
        }
        default:
            throw SpecError{std::string("unknown escape \\") + e};
        }
    }
    return out;
}

// Blanks separate words; double quotes group; escapes stay for decodeEscapes.
std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += c;
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (quoted) throw SpecError{"a double quote is not closed"};
    if (inWord) words.push_back(word);
    return words;
}

uint64_t parseNumber(const std::string& word, uint64_t max) {
    if (word.empty() || word[0] == '-' || word[0] == '+') throw SpecError{"not a number: " + word};
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(word.c_str(), &end, 0);  // 0x.. hex, 0.. octal
    if (*end || errno || value > max) throw SpecError{"not a number in range: " + word};
    return value;
}

uint64_t parseMilliseconds(const std::string& word) {
    char* end = nullptr;
    double seconds = std::strtod(word.c_str(), &end);
    if (word.empty() || *end || !(seconds >= 0) || seconds > 1e9)
        throw SpecError{"not a time in seconds: " + word};
    return uint64_t(std::llround(seconds * 1000));
}

void parseWhere(const std::string& word, Fault& fault) {
    std::size_t cut = word.find_first_of("#@=");
    std::string name = word.substr(0, cut);
    std::size_t step = 0;
    while (step < std::size_t(Step::Count) && name != kStepNames[step]) step++;
    if (step == std::size_t(Step::Count)) throw SpecError{"unknown step '" + name + "'"};
    fault.step = Step(step);
    std::string rest = cut == std::string::npos ? "" : word.substr(cut);
    if (!rest.empty() && (rest[0] == '#' || rest[0] == '@')) {
        fault.runWide = rest[0] == '@';
        std::size_t end = rest.find('=');
        fault.occurrence = unsigned(
            parseNumber(rest.substr(1, end == std::string::npos ? end : end - 1), UINT32_MAX));
        if (fault.occurrence == 0) throw SpecError{"occurrences count from 1"};
        rest = end == std::string::npos ? "" : rest.substr(end);
    }
    if (!rest.empty()) {
        fault.hasPath = true;
        fault.path = decodeEscapes(rest.substr(1));
    }
    if (fault.step == Step::Any && (fault.occurrence || fault.hasPath))
        throw SpecError{"'any' takes neither #K, @K nor =PATH"};
    if (fault.hasPath && !(kWithPath & bit(fault.step)))
        throw SpecError{std::string("step '") + name + "' has no path"};
}

Fault parseFault(const std::string& rule) {
    Fault fault;
    fault.rule = rule;
    std::vector<std::string> words = splitWords(rule);
    if (words.size() < 2) throw SpecError{"a fault needs a step and an action"};
    parseWhere(words[0], fault);
    std::size_t row = 0;
    while (row < std::size_t(Action::Count) && words[1] != kActions[row].name) row++;
    if (row == std::size_t(Action::Count)) throw SpecError{"unknown action '" + words[1] + "'"};
    fault.action = Action(row);
    if (!(kActions[row].steps & bit(fault.step)))
        throw SpecError{"action '" + words[1] + "' does not apply to step '" +
                        kStepNames[std::size_t(fault.step)] + "'"};
    std::string letters = kActions[row].arguments;
    if (words.size() != letters.size() + 2)
        throw SpecError{"action '" + words[1] + "' takes " + std::to_string(letters.size()) +
                        " argument(s)"};
    for (std::size_t i = 0; i < letters.size(); i++) {
        const std::string& word = words[i + 2];
        switch (letters[i]) {
        case 't':
            fault.text = decodeEscapes(word);
            break;
        case 'n':
            fault.count = parseNumber(word, UINT64_MAX);
            break;
        case 'm':
            fault.mode = uint32_t(parseNumber(word, UINT32_MAX));
            break;
        case 'z':
            fault.size = parseNumber(word, UINT64_MAX);
            break;
        case 'h':
            fault.time = parseNumber(word, UINT64_MAX);
            break;
        case 's':
            if (word == "forever")
                fault.forever = true;
            else
                fault.count = parseMilliseconds(word);
            break;
        case 'i':
            fault.text = decodeEscapes(word);
            if (fault.text.size() != kIdSize)
                throw SpecError{"a record id has four bytes: " + word};
            break;
        }
    }
    bool hostStep =
        fault.step == Step::Transport || fault.step == Step::Features || fault.step == Step::Sync;
    if (hostStep && fault.action == Action::Fail && fault.text.size() > kMaxHostText)
        throw SpecError{"a host FAIL text has at most 65535 bytes"};
    if (fault.action == Action::DentError && fault.count > UINT32_MAX)
        throw SpecError{"an errno is 32-bit"};
    if (fault.action == Action::DataLength && fault.count > UINT32_MAX)
        throw SpecError{"data-length is 32-bit"};
    if (fault.action == Action::DataAfterDone && fault.count > kMaxSyncData * 16)
        throw SpecError{"data-after-done is at most 1048576 bytes"};
    if (fault.action == Action::Chunk && fault.count == 0)
        throw SpecError{"a chunk has at least one byte"};
    if (fault.action == Action::Trickle && fault.count > UINT32_MAX)
        throw SpecError{"trickle is in milliseconds"};
    return fault;
}

void addFault(Config& config, const std::string& rule, const std::string& where) {
    try {
        config.faults.push_back(parseFault(rule));
    } catch (const SpecError& error) {
        usageError(where + "fault '" + rule + "': " + error.message);
    }
}

void readScenario(Config& config, const std::string& file) {
    std::ifstream in(file);
    if (!in) usageError("cannot read scenario " + file);
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        addFault(config, line.substr(first), file + ":" + std::to_string(number) + ": ");
    }
}

void addDevice(Config& config, const std::string& value) {
    std::size_t equals = value.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == value.size())
        usageError("--device wants SERIAL=DIR: " + value);
    Device device;
    device.serial = value.substr(0, equals);
    device.root = value.substr(equals + 1);
    while (device.root.size() > 1 && device.root.back() == '/') device.root.pop_back();
    device.local = device.serial.rfind("emulator-", 0) == 0;
    struct stat st;
    if (stat(device.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        usageError("device directory is not a directory: " + device.root);
    config.devices.push_back(device);
}

const char kHelp[] =
    "usage: adbsim [options]\n"
    "An ADB server stand-in serving devices whose file systems are host directories.\n"
    "  --port N              listen on 127.0.0.1:N (default 5037; 0 = any, printed)\n"
    "  --device SERIAL=DIR   a device (repeatable); serials emulator-* are local\n"
    "  --ready FILE          write the port number to FILE once listening\n"
    "  --log FILE            log every request received, one line each\n"
    "  --once                end after the first connection\n"
    "  --fault RULE          inject a fault (repeatable), RULE = WHERE ACTION ARGS...\n"
    "  --scenario FILE       faults from FILE, one RULE per line, # comments\n"
    "  --recv-chunk N        bytes per RECV DATA record (default 65536)\n"
    "  --list-order ORDER    sorted (default), reverse or native LIST order\n"
    "  --idle-timeout S      close a connection silent for S seconds (default: never)\n"
    "  --delay-ms N          every reply reaches the client N ms after it was written\n"
    "  --no-v2               devices offer neither stat_v2 nor ls_v2 and refuse STA2,\n"
    "                        LST2 and LIS2 as unknown, like an older device\n"
    "  --follow-links        listings show what links point to (a link to an\n"
    "                        ancestor lists itself, like a bind mount)\n"
    "Device-daemon mode, for a real ADB server (adb connect 127.0.0.1:PORT):\n"
    "  adbsim --daemon PORT --device DIR [--serial S] [--features LIST] [--max-payload N]\n"
    "         [--delay-ms N] [--vanish] [--rule RULE]... [--log FILE] [--ready FILE] ...\n"
    "See tests/adbsim/README.md for the fault syntax.\n";

}  // namespace

const char* stepName(Step step) {
    return kStepNames[std::size_t(step)];
}

OptionWord splitOption(const char* word) {
    OptionWord split{word, "", false};
    if (std::size_t equals = split.option.find('=');
        split.option.rfind("--", 0) == 0 && equals != std::string::npos) {
        split.value = split.option.substr(equals + 1);
        split.option.resize(equals);
        split.inlineValue = true;
    }
    return split;
}

Config parseCommandLine(int argc, char** argv) {
    Config config;
    for (int i = 1; i < argc; i++) {
        OptionWord word = splitOption(argv[i]);
        const std::string& option = word.option;
        auto takeValue = [&]() {
            if (word.inlineValue) return word.value;
            if (i + 1 >= argc) usageError(option + " needs a value");
            return std::string(argv[++i]);
        };
        try {
            if (option == "--help" || option == "-h") {
                std::fputs(kHelp, stdout);
                std::exit(0);
            } else if (option == "--once") {
                config.once = true;
            } else if (option == "--no-v2") {
                config.syncV2 = false;
            } else if (option == "--follow-links") {
                config.followLinks = true;
            } else if (option == "--port") {
                config.port = unsigned(parseNumber(takeValue(), 65535));
            } else if (option == "--device") {
                addDevice(config, takeValue());
            } else if (option == "--ready") {
                config.readyFile = takeValue();
            } else if (option == "--log") {
                config.logFile = takeValue();
            } else if (option == "--fault") {
                addFault(config, takeValue(), "");
            } else if (option == "--scenario") {
                readScenario(config, takeValue());
            } else if (option == "--recv-chunk") {
                config.recvChunk = std::size_t(parseNumber(takeValue(), UINT32_MAX));
                if (config.recvChunk == 0) usageError("--recv-chunk must be at least 1");
            } else if (option == "--idle-timeout") {
                config.idleTimeout = unsigned(parseNumber(takeValue(), UINT32_MAX / 1000));
            } else if (option == "--delay-ms") {
                config.delayMs = unsigned(parseNumber(takeValue(), 60000));
            } else if (option == "--list-order") {
                std::string order = takeValue();
                if (order == "sorted")
                    config.listOrder = ListOrder::Sorted;
                else if (order == "reverse")
                    config.listOrder = ListOrder::Reverse;
                else if (order == "native")
                    config.listOrder = ListOrder::Native;
                else
                    usageError("--list-order is sorted, reverse or native");
            } else {
                usageError("unknown option " + option);
            }
        } catch (const SpecError& error) {
            usageError(option + ": " + error.message);
        }
    }
    return config;
}

}  // namespace adbsim
