// Tests of the command-line step of main: the SyncContext fields that each flag
// fills, the flag rules with their messages and exit code, the roots and the usage.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "run/context.h"
#include "run/options.h"

namespace {

struct StepRun {
    std::unique_ptr<SyncContext> context = std::make_unique<SyncContext>();
    int code = -1;
    std::string messages;  // lines joined by " / "
};

std::string joinLines(const std::string& captured) {
    std::string text, line;
    for (char c : captured + "\n") {
        if (c == '\n') {
            if (!line.empty()) text += (text.empty() ? "" : " / ") + line;
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return text;
}

// Runs the step on argv words after the program's name; the context starts as garbage
// to show that the step zero-fills it.
StepRun run(std::vector<std::string> words) {
    words.insert(words.begin(), "tandrix");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    StepRun result;
    std::memset(static_cast<void*>(result.context.get()), 0xAB, sizeof(SyncContext));
    testing::internal::CaptureStderr();
    result.code = readCommandLine(result.context.get(),
                                  CommandSource{nullptr, int(argv.size()), argv.data()});
    result.messages = joinLines(testing::internal::GetCapturedStderr());
    return result;
}

std::u16string wide(const char16_t* text) {
    return std::u16string(text);
}

}  // namespace

TEST(OptionStep, FieldsFromFlags) {
    const struct {
        std::vector<std::string> flags;
        uint32_t copyFlags;
        uint32_t listMask;
        uint32_t needBlankLine;
    } rows[] = {
        {{"-h"}, 0x18, 0x78030, 0},
        {{"-hs"}, 0x20, 0x78030, 0},
        {{"-hscu"}, 0x38, 0x78030, 0},
        {{"-H:uc"}, 0x18, 0x78030, 0},
        {{"-a"}, 0x03, 0x78030, 0},
        {{"-a=sc"}, 0x06, 0x78030, 0},
        {{"-h", "-a"}, 0x1B, 0x78030, 0},
        {{"-l"}, 0x00, 0x79F3E, 1},
        {{"-ld*"}, 0x00, 0x79F3E, 1},
        {{"-lhad"}, 0x00, 0xF9E3C, 1},
        {{"-q", "-l"}, 0x00, 0x1F3E, 1},
        {{"-q", "-a"}, 0x03, 0x0, 0},
        {{"-q", "-v", "-a"}, 0x03, 0x100000, 1},
        {{"-v", "-h"}, 0x18, 0x178030, 1},
    };
    for (const auto& row : rows) {
        std::vector<std::string> words = row.flags;
        words.push_back("host");
        words.push_back("sdcard");
        StepRun result = run(words);
        SCOPED_TRACE(row.flags[0]);
        ASSERT_EQ(result.code, 0) << result.messages;
        EXPECT_EQ(result.messages, "");
        EXPECT_EQ(result.context->copyFlags, row.copyFlags);
        EXPECT_EQ(result.context->listMask, row.listMask);
        EXPECT_EQ(result.context->needBlankLine, row.needBlankLine);
        // Everything not set by a flag is zero (the record was garbage before).
        EXPECT_EQ(result.context->recurse, 0u);
        EXPECT_EQ(result.context->oneHourSame, 0u);
        EXPECT_EQ(result.context->timeRounding, 4u);
        EXPECT_EQ(result.context->conn.localOnly, 0u);
        EXPECT_STREQ(result.context->conn.serial, "");
        EXPECT_EQ(result.context->ignoreList, nullptr);
        EXPECT_EQ(result.context->onlyList, nullptr);
        EXPECT_EQ(result.context->printedAny, 0u);
        EXPECT_EQ(result.context->statusCounts[18], 0u);
    }
}

TEST(OptionStep, SwitchesAndValues) {
    StepRun result = run({"-s", "-0", "-1", "-e", "-k", "-a", "host", "sdcard/DCIM/"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_EQ(result.context->recurse, 1u);
    EXPECT_EQ(result.context->keepGoing, 1u);
    EXPECT_EQ(result.context->oneHourSame, 1u);
    EXPECT_EQ(result.context->timeRounding, 1u);
    EXPECT_EQ(result.context->conn.localOnly, 1u);
    EXPECT_EQ(wide(result.context->androidRoot), u"/sdcard/DCIM");

    result = run({"-2", "-d=my phone", "-a", "host", "sdcard/"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_EQ(result.context->keepGoing, 0u);
    EXPECT_EQ(result.context->timeRounding, 4u);
    EXPECT_STREQ(result.context->conn.serial, "my phone");
    EXPECT_EQ(result.context->conn.localOnly, 0u);
    EXPECT_EQ(wide(result.context->androidRoot), u"/sdcard");

    std::string serial(255, 's');
    result = run({"-d" + serial, "-a", "host", "sdcard"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_EQ(std::string(result.context->conn.serial), serial);
}

TEST(OptionStep, PatternLists) {
    StepRun result = run({"-i*.tmp;*.bak", "-a", "host", "sdcard"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_NE(result.context->ignoreList, nullptr);
    EXPECT_EQ(result.context->onlyList, nullptr);
    heapRelease(&result.context->heap);

    result = run({"-o:*.jpg", "-a", "host", "sdcard"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_EQ(result.context->ignoreList, nullptr);
    EXPECT_NE(result.context->onlyList, nullptr);
    heapRelease(&result.context->heap);
}

TEST(OptionStep, Roots) {
    std::filesystem::path dir = std::filesystem::temp_directory_path();
    std::string alt = dir.string();
    StepRun result = run({"-a", "host", "sdcard"});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_NE(result.context->hostRoot[0], 0);
    EXPECT_EQ(wide(result.context->altRoot), wide(result.context->hostRoot));

    result = run({"-a", "host", "sdcard", alt});
    ASSERT_EQ(result.code, 0) << result.messages;
    EXPECT_NE(result.context->altRoot[0], 0);
    EXPECT_NE(wide(result.context->altRoot), wide(result.context->hostRoot));

    // A relative alternative root too long to make absolute cannot be normalised: it
    // is refused rather than left empty.
    std::string tooLong(1020, 'a');
    result = run({"-h", "host", "sdcard", tooLong});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.messages, "Alternative root " + tooLong + " cannot be used");
    result = run({"-h", tooLong, "sdcard"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.messages, "Host root " + tooLong + " cannot be used");

    // A device root that does not fit once it begins with '/' is refused, not left
    // empty.
    std::string deviceTooLong(1023, 'd');
    result = run({"-h", "host", deviceTooLong});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.messages, "Android root " + deviceTooLong + " cannot be used");
}

TEST(OptionStep, BadCommandLines) {
    const struct {
        std::vector<std::string> words;
        std::string message;
    } rows[] = {
        {{"host", "sdcard"}, "Flag A, H or L must be specified"},
        {{"-l", "host"}, "Not enough arguments supplied"},
        {{"-l", "a", "b", "c", "d"}, "Too many arguments supplied"},
        {{"-d=myphone", "-e", "-l", "a", "b"}, "Flags D and E are mutually exclusive"},
        {{"-2", "-1", "-l", "a", "b"}, "Flags 1 and 2 are mutually exclusive"},
        {{"-sx", "-l", "a", "b"}, "Flag S does not take a value"},
        {{"-kx", "-l", "a", "b"}, "Flag K does not take a value"},
        {{"-d", "-l", "a", "b"}, "Flag D must specify a value"},
        {{"-o", "-l", "a", "b"}, "Flag O must specify a value"},
        {{"-hcc", "a", "b"}, "Flag H has duplicate option C"},
        {{"-hx", "a", "b"}, "Flag H has illegal option X"},
        {{"-a", "-ax", "a", "b"}, "Duplicate command flag A"},
        {{"-l*d", "a", "b"}, "Flag L has duplicate option D"},
        {{"-ldha", "a", "b"}, "Flag L has duplicate option A"},
        {{"-x", "a", "b"}, "Unknown command flag X"},
        {{"-l", "-", "a", "b"}, "Command flag switch with no letter"},
        {{"-l", std::string(1024, 'r'), "b"}, "Argument #1 is longer than 1023 bytes"},
        {{"-l", "a", std::string(1024, 'r')}, "Argument #2 is longer than 1023 bytes"},
        {{"-l", "-d" + std::string(256, 's'), "a", "b"}, "Flag D value is longer than 255 bytes"},
        {{"-l", "-i" + std::string(1024, '*'), "a", "b"}, "Flag I value is longer than 1023 bytes"},
    };
    for (const auto& row : rows) {
        StepRun result = run(row.words);
        EXPECT_EQ(result.code, 1) << row.message;
        EXPECT_EQ(result.messages, row.message);
    }
}

TEST(OptionStep, Usage) {
    std::string usage = usageText();
    std::vector<std::string> lines;
    std::string end = osLineEnd();
    for (size_t at = 0; at < usage.size();) {
        size_t next = usage.find(end, at);
        ASSERT_NE(next, std::string::npos) << "every line ends with the line end";
        lines.push_back(usage.substr(at, next - at));
        at = next + end.size();
    }
    ASSERT_EQ(lines.size(), 21u);
    std::string s(1, osUsageSwitch());
    EXPECT_EQ(lines[1], "Usage:  tandrix [flags] hostroot androidroot [altroot]");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], s + "h  update host");
    EXPECT_EQ(lines[6],
              s + "l  list all files or d (differences), h (host only), a (android only)");
    EXPECT_EQ(lines[16],
              s + "h and " + s +
                  "a use s (create subdirs), c (create files), u (update files), default=cu.");
    EXPECT_EQ(lines[17], "Pattern lists are *? format, semicolon delimited.");
    EXPECT_EQ(lines[18], s + "n  dry run: list the copies a run would make, copy nothing");
    EXPECT_EQ(lines[19],
              "A pattern ending in / leaves folders out; one with / inside matches the path.");
    EXPECT_EQ(lines[20],
              s + "k  keep going past files that cannot be copied, list them at the end");

    for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"-?"}, {"-l"}}) {
        StepRun result = run(words);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.messages, joinLines(usage));
    }
}
