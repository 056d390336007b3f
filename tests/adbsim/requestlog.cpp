// adbsim's request log (one line per request received, flushed at once, so tests
// can read it while the server runs) and its notes on standard error.
#include <cstdio>

#include "adbsim.h"

namespace adbsim {

namespace {
FILE* requestLog = nullptr;
}

void openRequestLog(const std::string& file) {
    requestLog = std::fopen(file.c_str(), "w");
    if (!requestLog) {
        std::perror(("adbsim: " + file).c_str());
        std::exit(2);
    }
}

void logRequest(const std::string& line) {
    if (!requestLog) return;
    std::fputs((line + '\n').c_str(), requestLog);  // one call: daemon threads never split a line
    std::fflush(requestLog);
}

std::string printable(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void note(const std::string& message) {
    std::fprintf(stderr, "adbsim: %s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace adbsim
