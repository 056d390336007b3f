// The flag parser and the response-file reader: the input is a raw command line, or
// (first byte odd) the text of a response file named on one. Every input ends in a
// result code; nothing may crash, leak past the heap or read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/context.h"
#include "run/options.h"
#include "support/errors.h"

namespace {

SyncContext context;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.c_str();  // the command line ends at its first NUL
    std::string line;
    static const std::string responseFile = "/tmp/tandrix-fuzz-" + std::to_string(getpid());
    if (data[0] & 1) {
        std::FILE* f = std::fopen(responseFile.c_str(), "wb");
        if (f == nullptr) return 0;
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
        line = "tandrix @" + responseFile;
    } else {
        line = "tandrix " + text;
    }
    CommandSource source{line.c_str(), 0, nullptr};
    try {
        readCommandLine(&context, source);
    } catch (const SyncError&) {
        // reported and ended like any fatal error
    }
    heapRelease(&context.heap);
    return 0;
}
