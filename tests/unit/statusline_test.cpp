// Tests of the progress line's text: byte and time figures, and the copy and reading
// lines fitted to the terminal's width.
#include <gtest/gtest.h>

#include <string>

#include "run/statusline.h"

namespace {

TEST(StatusLineText, Figures) {
    const struct {
        uint64_t bytes;
        const char* text;
    } bytes[] = {{0, "0 B"},          {999, "999 B"},      {1000, "1.0 kB"},    {1535, "1.5 kB"},
                 {102348, "99.9 kB"}, {1023487, "999 kB"}, {1023488, "1.0 MB"}, {~0ull, "16.0 EB"}};
    char text[kStatusChars];
    for (const auto& row : bytes) {
        formatStatusBytes(row.bytes, text);
        EXPECT_STREQ(text, row.text) << row.bytes;
    }
    const struct {
        uint64_t seconds;
        const char* text;
    } times[] = {
        {0, "0:00"}, {42, "0:42"}, {725, "12:05"}, {3725, "1:02:05"}, {360000, "100:00:00"}};
    for (const auto& row : times) {
        formatStatusTime(row.seconds, text);
        EXPECT_STREQ(text, row.text) << row.seconds;
    }
}

TEST(StatusLineText, LinesFitTheWidth) {
    StatusLine status{};
    status.totalFiles = 77;
    status.totalBytes = 3u << 20;
    status.doneFiles = 2;
    status.doneBytes = 1u << 20;
    status.currentSize = 200;
    status.currentDone = 90;
    char text[kStatusChars];
    const std::string figures = "  2/77 files  1.0 MB/3.0 MB  512 kB/s  0:04 left";
    // Wide enough: everything; narrower: the path loses its front, then goes.
    composeCopyStatus(&status, "DCIM/Camera/IMG_0001.jpg", 2.0, text, 100);
    EXPECT_EQ(std::string(text), "[ 45%] DCIM/Camera/IMG_0001.jpg" + figures);
    composeCopyStatus(&status, "DCIM/Camera/IMG_0001.jpg", 2.0, text, 7 + 16 + figures.size());
    EXPECT_EQ(std::string(text), "[ 45%] .../IMG_0001.jpg" + figures);
    composeCopyStatus(&status, "DCIM/Camera/IMG_0001.jpg", 2.0, text, 30);
    EXPECT_EQ(std::string(text), "[ 45%] 2/77 files  1.0 MB/3.0 ");
    // Before half a second there is no rate to show.
    composeCopyStatus(&status, "a", 0.1, text, 100);
    EXPECT_EQ(std::string(text), "[ 45%] a  2/77 files  1.0 MB/3.0 MB");
    status.directories = 1;
    status.entries = 1234;
    composeReadStatus(&status, text, 100);
    EXPECT_STREQ(text, "Reading: 1 directory, 1,234 entries");
}

}  // namespace
