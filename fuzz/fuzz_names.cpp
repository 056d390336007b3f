// Names: the UTF-8 and UTF-16 conversions, the device-name check and the console-safe
// forms. An accepted device name round-trips byte for byte and is one safe component;
// every well-formed UTF-16 text round-trips through UTF-8.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "adb/syncqueries.h"
#include "support/encodings.h"
#include "tree/filetree.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// True when a UTF-16 text holds no lone surrogate.
bool isWellFormedUtf16(const char16_t* text) {
    for (; *text != 0; ++text) {
        if (*text >= 0xD800 && *text < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000)
            ++text;
        else if (*text >= 0xD800 && *text < 0xE000)
            return false;
    }
    return true;
}

void checkDeviceName(const uint8_t* data, size_t size) {
    char name[kDentNameBytes];
    uint32_t length = static_cast<uint32_t>(size < kDentNameBytes - 1 ? size : kDentNameBytes - 1);
    std::memcpy(name, data, length);
    name[length] = 0;
    char16_t wide[kPathChars];
    if (deviceNameProblem(name, length, wide) != nullptr) return;
    char again[kDentNameBytes];
    utf16ToUtf8(wide, again, sizeof again);
    check(std::strlen(again) == length && std::memcmp(again, name, length) == 0);
    check(std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0);
    check(std::memchr(name, '/', length) == nullptr && std::memchr(name, 0, length) == nullptr);
    check(isWellFormedUtf16(wide));
}

void checkWideRoundTrip(const uint8_t* data, size_t size) {
    char16_t wide[kPathChars];
    size_t units = size / 2 < kPathChars - 1 ? size / 2 : kPathChars - 1;
    for (size_t i = 0; i < units; ++i) {
        wide[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
        if (wide[i] == 0) wide[i] = u'x';
    }
    wide[units] = 0;
    char bytes[4 * kPathChars];
    const char16_t* stop = utf16ToUtf8(wide, bytes, sizeof bytes);
    check(*stop == 0);
    char16_t back[kPathChars + 1];
    bool valid = utf8ToUtf16(bytes, back, kPathChars + 1);
    check(valid || !isWellFormedUtf16(wide));
    if (isWellFormedUtf16(wide))
        check(std::memcmp(back, wide, (units + 1) * sizeof(char16_t)) == 0);
    // A small output is cut between characters: what it holds decodes without fault.
    char small[7];
    utf16ToUtf8(wide, small, sizeof small);
    char16_t smallBack[8];
    check(utf8ToUtf16(small, smallBack, 8) || !isWellFormedUtf16(wide));

    makeDisplaySafeWide(wide);
    for (const char16_t* c = wide; *c != 0; ++c) check(!isControlChar(*c));
}

void checkSafeBytes(const uint8_t* data, size_t size) {
    char text[1024];
    size_t length = size < sizeof text - 1 ? size : sizeof text - 1;
    std::memcpy(text, data, length);
    length = makeDisplaySafeBytes(text, length);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        check(c >= 0x20 && c != 0x7F);
        if (c == 0xC2 && i + 1 < length) {
            unsigned char next = static_cast<unsigned char>(text[i + 1]);
            check(next < 0x80 || next >= 0xA0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkDeviceName(data, size);
    checkWideRoundTrip(data, size);
    checkSafeBytes(data, size);
    return 0;
}
