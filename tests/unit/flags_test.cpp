// Tests of the flag parser: the raw command-line grammar (as on Windows), argv words
// (as on POSIX), response files, limits, the compacted block, checks and conversions.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/flags.h"

namespace {

const char kLetters[] = "ADEHILOQSV012";
const char kUsage[] = "USAGE TEXT\n";

bool windowsSwitch(char c) {
    return c == '/' || c == '-';
}

bool posixSwitch(char c) {
    return c == '-';
}

// The lines written to standard error, without line ends and empty lines.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

char slotLetter(int slot) {
    return slot < 10 ? char('0' + slot) : slot < 36 ? char('A' + slot - 10) : '?';
}

// "arg0|arg1|... F=value ..." for a parsed block, or the messages joined by " / ".
struct Outcome {
    ParsedArgs* args = nullptr;
    std::string text;
};

std::string describe(const ParsedArgs* args) {
    std::string text;
    char buffer[70000];
    for (int i = 0; i < countArguments(args); ++i) {
        getArgument(args, i, buffer, sizeof buffer);
        text += (i ? "|" : "") + std::string(buffer);
    }
    for (int slot = 0; slot < kFlagSlots; ++slot) {
        if (getFlag(args, slotLetter(slot), buffer, sizeof buffer)) {
            text += std::string(" ") + slotLetter(slot) + "=" + buffer;
        }
    }
    return text;
}

std::string joinLines(const std::string& captured) {
    std::string text;
    for (const std::string& line : splitLines(captured)) text += (text.empty() ? "" : " / ") + line;
    return text;
}

Outcome parse(const CommandSource& source, SwitchTest isSwitch, int minArgs = 1,
              int maxArgs = 100000, const char* usage = kUsage) {
    testing::internal::CaptureStderr();
    Outcome outcome;
    outcome.args = parseCommandLine(source, minArgs, maxArgs, kLetters, usage, isSwitch);
    std::string captured = testing::internal::GetCapturedStderr();
    if (outcome.args) {
        EXPECT_EQ(captured, "");
        outcome.text = describe(outcome.args);
    } else {
        outcome.text = joinLines(captured);
    }
    return outcome;
}

std::string parseRaw(const std::string& raw, int minArgs = 1, int maxArgs = 100000) {
    Outcome outcome =
        parse(CommandSource{raw.c_str(), 0, nullptr}, windowsSwitch, minArgs, maxArgs);
    releaseArgs(outcome.args);
    return outcome.text;
}

std::string parseArgv(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    Outcome outcome = parse(CommandSource{nullptr, int(argv.size()), argv.data()}, posixSwitch);
    releaseArgs(outcome.args);
    return outcome.text;
}

// A scratch directory for response files, removed at the end of each test.
class ResponseFiles : public testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("flags_test_" + std::to_string(std::rand()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const std::string& name, const std::string& content) {
        std::filesystem::path path = dir / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
};

struct Row {
    const char* name;
    const char* input;
    const char* expected;
};

}  // namespace

TEST(FlagParserRaw, WordGrammar) {
    const Row rows[] = {
        {"plain words", "prog a  b", "prog|a|b"},
        {"tabs and line breaks separate", "prog\ta\r\nb", "prog|a|b"},
        {"quoted word keeps spaces", "prog \"a b\" c", "prog|a b|c"},
        {"doubled quote inside quotes", "prog \"a\"\"b\"", "prog|a\"b"},
        {"doubled quote at the end", "prog \"a\"\"\"", "prog|a\""},
        {"quote then text starts a new word", "prog \"abc\"def", "prog|abc|def"},
        {"quote inside a plain word is ordinary", "prog ab\"c d", "prog|ab\"c|d"},
        {"empty quoted word", "prog \"\" x", "prog||x"},
        {"quoted program name", "\"C:\\Program Files\\t.exe\" a", "C:\\Program Files\\t.exe|a"},
        {"value after =", "prog /d=SERIAL", "prog D=SERIAL"},
        {"value after :", "prog /d:SERIAL", "prog D=SERIAL"},
        {"value attached", "prog /dSERIAL", "prog D=SERIAL"},
        {"only one = is skipped", "prog /d==x", "prog D==x"},
        {"value in the next word is positional", "prog /d SERIAL", "prog|SERIAL D="},
        {"one flag per word", "prog /sv", "prog S=v"},
        {"either switch, either case", "prog -s /L", "prog L= S="},
        {"quoted value", "prog /i\"*.tmp;*.bak\"", "prog I=*.tmp;*.bak"},
        {"quoted value with spaces", "prog /o:\"a b\"", "prog O=a b"},
        {"quoted slash word is positional", "prog \"/sdcard/DCIM\"", "prog|/sdcard/DCIM"},
        {"unquoted slash root is a flag", "prog /a C:\\data /sdcard/DCIM",
         "prog|C:\\data A= S=dcard/DCIM"},
        {"digits are flags", "prog /0 /1", "prog 0= 1="},
        {"duplicate flag", "prog /s -S", "Duplicate command flag S"},
        {"unknown flag", "prog /x", "Unknown command flag X"},
        {"illegal flag character", "prog /#", "Illegal command flag character #"},
        {"lone switch", "prog / a", "Command flag switch with no letter"},
        {"lone switch at the end", "prog -", "Command flag switch with no letter"},
        {"words are checked before ?", "prog /? /x", "Unknown command flag X"},
        {"usage request", "prog /? a b", "USAGE TEXT"},
        {"missing closing quote", "prog \"abc", "Terminating quote missing"},
        {"missing quote after doubled", "prog \"ab\"\"", "Terminating quote missing"},
    };
    for (const Row& row : rows) EXPECT_EQ(parseRaw(row.input), row.expected) << row.name;
}

TEST(FlagParserRaw, ArgumentCounts) {
    EXPECT_EQ(parseRaw("prog", 3, 4), "USAGE TEXT");
    EXPECT_EQ(parseRaw("prog /l", 3, 4), "USAGE TEXT");
    EXPECT_EQ(parseRaw("prog a", 3, 4), "Not enough arguments supplied");
    EXPECT_EQ(parseRaw("prog a b", 3, 4), "prog|a|b");
    EXPECT_EQ(parseRaw("prog a b c", 3, 4), "prog|a|b|c");
    EXPECT_EQ(parseRaw("prog a b c d", 3, 4), "Too many arguments supplied");
    // Without a usage text, only the program's name is just too few.
    std::string raw = "prog";
    Outcome outcome = parse(CommandSource{raw.c_str(), 0, nullptr}, windowsSwitch, 3, 4, nullptr);
    EXPECT_EQ(outcome.text, "Not enough arguments supplied");
    // Nor is "?" a flag then.
    raw = "prog /? a b";
    outcome = parse(CommandSource{raw.c_str(), 0, nullptr}, windowsSwitch, 3, 4, nullptr);
    EXPECT_EQ(outcome.text, "Unknown command flag ?");
}

TEST(FlagParserRaw, PositionalArgumentLimit) {
    std::string raw = "prog";
    for (int i = 1; i < kMaxArguments; ++i) raw += " a";
    EXPECT_EQ(parseRaw(raw).size(), 4 + 2u * (kMaxArguments - 1));  // all 8192 stored
    EXPECT_EQ(parseRaw(raw + " a"), "Maximum number of arguments exceeded");
}

TEST(FlagParserRaw, TextAreaLimit) {
    // "prog" and its terminator take 5 bytes; the rest of the 65536 is one word.
    std::string word(kArgTextSize - 6, 'x');
    EXPECT_EQ(parseRaw("prog " + word), "prog|" + word);
    EXPECT_EQ(parseRaw("prog " + word + "x"), "Maximum number of argument characters exceeded");
    EXPECT_EQ(parseRaw("prog \"" + word + "\""), "prog|" + word);
    EXPECT_EQ(parseRaw("prog \"" + word + "x\""), "Maximum number of argument characters exceeded");
    // Flag values share the area; several words run into the same limit.
    EXPECT_EQ(parseRaw("prog /d" + std::string(40000, 'y') + " " + std::string(30000, 'z')),
              "Maximum number of argument characters exceeded");
}

TEST(FlagParserRaw, BlockIsCompacted) {
    std::string raw = "prog abc /d=xy /s";
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    ASSERT_NE(args, nullptr);
    // Header, two argPos entries, then "prog", "abc", "xy" and "" with terminators.
    int32_t textStart = int32_t(sizeof(ParsedArgs) + 2 * sizeof(int32_t));
    EXPECT_EQ(args->argCount, 2);
    EXPECT_EQ(args->nextFree, textStart + 5 + 4 + 3 + 1);
    EXPECT_EQ(args->flagPos[13], textStart + 9);   // D
    EXPECT_EQ(args->flagPos[28], textStart + 12);  // S
    EXPECT_EQ(args->flagPos[10], -1);              // A: a flag, not given
    EXPECT_EQ(args->flagPos[11], -2);              // B: not a flag here
    EXPECT_EQ(describe(args), "prog|abc D=xy S=");
    EXPECT_EQ(countFlags(args), 2);
    releaseArgs(args);
}

TEST(FlagParserArgv, WordsAreTakenWhole) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"prog", "a b", "c"}, "prog|a b|c"},
        {{"prog", "\"quoted\""}, "prog|\"quoted\""},
        {{"prog", "-d", "SERIAL"}, "prog|SERIAL D="},
        {{"prog", "-d=a b"}, "prog D=a b"},
        {{"prog", "-i\"*.tmp\""}, "prog I=\"*.tmp\""},
        {{"prog", "/sdcard/DCIM", "/s"}, "prog|/sdcard/DCIM|/s"},
        {{"prog", "line\nbreak"}, "prog|line\nbreak"},
        {{"prog", ""}, "prog|"},
        {{"-prog", "x"}, "-prog|x"},
        {{"prog", "--help"}, "USAGE TEXT"},
        {{"prog", "-?", "--help"}, "Duplicate command flag ?"},
        {{"prog", "-"}, "Command flag switch with no letter"},
        {{"prog", "- x"}, "Command flag switch with no letter"},
        {{"prog", "--x"}, "Illegal command flag character -"},
        {{"prog", "-x"}, "Unknown command flag X"},
        {{"prog", "-s", "-S"}, "Duplicate command flag S"},
    };
    for (const auto& [words, expected] : rows) EXPECT_EQ(parseArgv(words), expected) << words[1];
}

TEST(FlagParserArgv, Limits) {
    std::vector<std::string> words(kMaxArguments, "a");
    EXPECT_NE(parseArgv(words).find("a|a"), std::string::npos);
    words.push_back("a");
    EXPECT_EQ(parseArgv(words), "Maximum number of arguments exceeded");
    EXPECT_EQ(parseArgv({"prog", std::string(kArgTextSize - 6, 'x')}).size(), kArgTextSize - 1u);
    EXPECT_EQ(parseArgv({"prog", std::string(kArgTextSize - 5, 'x')}),
              "Maximum number of argument characters exceeded");
}

TEST_F(ResponseFiles, LinesAreWords) {
    const struct {
        const char* name;
        const char* content;
        const char* expected;
    } rows[] = {
        {"inner and trailing spaces kept", "C:\\My Files  \r\nsdcard\r\n",
         "prog|C:\\My Files  |sdcard|z"},
        {"no final line end", "  a b", "prog|a b|z"},
        {"blank lines and indents skipped", "\r\n\r\n\t x\n\n  y\n", "prog|x|y|z"},
        {"quoted word spans lines", "\"a\r\nb\" c\n", "prog|a\r\nb|c|z"},
        {"doubled quotes", "\"say \"\"hi\"\"\"\n", "prog|say \"hi\"|z"},
        {"flag lines", "-l\n-d=my phone \n", "prog|z D=my phone  L="},
        {"no nesting", "@other\n", "prog|@other|z"},
        {"a quote inside a line is ordinary", "ab\"c\n", "prog|ab\"c|z"},
        {"missing quote", "\"abc\n", "Terminating quote missing / Couldn't open response file"},
        {"unknown flag", "-x\n", "Unknown command flag X / Couldn't open response file"},
        {"empty file", "", "Couldn't open response file"},
    };
    for (const auto& row : rows) {
        std::string path = write("resp.txt", row.content);
        EXPECT_EQ(parseRaw("prog @" + path + " z"), row.expected) << row.name;
        EXPECT_EQ(parseArgv({"prog", "@" + path, "z"}), row.expected) << row.name;
    }
    // Lines are classified by the platform's switch characters.
    std::string path = write("slash.txt", "/sdcard\n");
    EXPECT_EQ(parseRaw("prog @" + path), "prog S=dcard");
    EXPECT_EQ(parseArgv({"prog", "@" + path}), "prog|/sdcard");
}

TEST_F(ResponseFiles, Names) {
    EXPECT_EQ(parseRaw("prog @" + (dir / "missing").string()), "Couldn't open response file");
    EXPECT_EQ(parseRaw("prog @"), "Couldn't open response file");
    EXPECT_EQ(parseArgv({"prog", "@"}), "Couldn't open response file");
    // The raw grammar ends the name at white space: the rest is the next word.
    std::string path = write("r.txt", "x\n");
    EXPECT_EQ(parseRaw("prog @" + path + "\ty"), "prog|x|y");
    // An argv word names the file whole, spaces included.
    std::string spaced = write("dir with space/r.txt", "x y\n");
    EXPECT_EQ(parseArgv({"prog", "@" + spaced}), "prog|x y");
    // A name longer than 255 characters is refused, not cut or overflowed.
    std::string longName = std::string(300, 'n');
    EXPECT_EQ(parseRaw("prog @" + longName), "Couldn't open response file");
    EXPECT_EQ(parseArgv({"prog", "@" + longName}), "Couldn't open response file");
    EXPECT_EQ(parseArgv({"prog", "@" + std::string(5000, 'n')}), "Couldn't open response file");
}

TEST_F(ResponseFiles, CountAgainstLimits) {
    std::string lines;
    for (int i = 1; i < kMaxArguments; ++i) lines += "a\n";
    std::string path = write("many.txt", lines);
    EXPECT_EQ(parseRaw("prog @" + path).size(), 4 + 2u * (kMaxArguments - 1));
    EXPECT_EQ(parseRaw("prog @" + path + " a"), "Maximum number of arguments exceeded");
    path = write("more.txt", lines + "a\n");
    EXPECT_EQ(parseRaw("prog @" + path),
              "Maximum number of arguments exceeded / Couldn't open response file");
    path = write("long.txt", std::string(kArgTextSize, 'x'));
    EXPECT_EQ(parseArgv({"prog", "@" + path}),
              "Maximum number of argument characters exceeded / Couldn't open response file");
}

namespace {

// Runs a check on a parsed raw command line; "pass" or its message.
template <typename Check>
std::string runCheck(const std::string& raw, Check check) {
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    EXPECT_NE(args, nullptr) << raw;
    testing::internal::CaptureStderr();
    ParsedArgs* result = check(args);
    std::string captured = joinLines(testing::internal::GetCapturedStderr());
    if (!result) return captured;
    EXPECT_EQ(result, args);
    EXPECT_EQ(captured, "");
    releaseArgs(result);
    return "pass";
}

}  // namespace

TEST(FlagChecks, ValuesRefusedAndRequired) {
    auto reject = [](ParsedArgs* args) { return rejectValues(args, "EQSV012"); };
    auto require = [](ParsedArgs* args) { return requireValues(args, "DIO"); };
    EXPECT_EQ(runCheck("p /s /q /1", reject), "pass");
    EXPECT_EQ(runCheck("p /sx", reject), "Flag S does not take a value");
    EXPECT_EQ(runCheck("p /v=1 /sx", reject), "Flag S does not take a value");  // letter order
    EXPECT_EQ(runCheck("p /Sx", [](ParsedArgs* a) { return rejectValues(a, "s"); }),
              "Flag s does not take a value");
    EXPECT_EQ(runCheck("p /d=x /i*", require), "pass");
    EXPECT_EQ(runCheck("p /d", require), "Flag D must specify a value");
    EXPECT_EQ(runCheck("p /o \"\"", require), "Flag O must specify a value");
    EXPECT_EQ(rejectValues(nullptr, "S"), nullptr);
    EXPECT_EQ(requireValues(nullptr, "D"), nullptr);
}

TEST(FlagChecks, Groups) {
    const struct {
        const char* raw;
        const char* letters;
        int mode;
        const char* expected;
    } rows[] = {
        {"p /e /d=x", "DE", 0, "Flags D and E are mutually exclusive"},
        {"p /d=x", "DE", 0, "pass"},
        {"p", "DE", 0, "pass"},
        {"p /2 /1", "12", 0, "Flags 1 and 2 are mutually exclusive"},
        {"p /l /a /h", "AHL", 2, "pass"},
        {"p", "AHL", 2, "Flag A, H or L must be specified"},
        {"p /s", "AHL", 1, "Flag A, H or L must be specified"},
        {"p /l /h", "AHL", 1, "Flags H and L are mutually exclusive"},
        {"p /h", "AHL", 1, "pass"},
        {"p", "DE", 1, "Flag D or E must be specified"},
        {"p", "S", 2, "Flag S must be specified"},
        {"p", "ADEH", 2, "Flag A, D, E or H must be specified"},
        {"p", "", 1, "pass"},
        {"p /s", "sb", 1, "pass"},  // letters as written; B is no flag of this program
    };
    for (const auto& row : rows) {
        EXPECT_EQ(
            runCheck(row.raw, [&](ParsedArgs* a) { return checkGroup(a, row.letters, row.mode); }),
            row.expected)
            << row.raw << " " << row.letters << " " << row.mode;
    }
    EXPECT_EQ(checkGroup(nullptr, "", 0), nullptr);
}

TEST(FlagChecks, RequireFlags) {
    auto check = [](ParsedArgs* args) { return requireFlags(args, "AD", "ES"); };
    EXPECT_EQ(runCheck("p /e", check), "pass");
    EXPECT_EQ(runCheck("p /d=x /e /s", check), "pass");
    EXPECT_EQ(runCheck("p /d=x /a /e", check), "Flag A requires the use of flag S");
    EXPECT_EQ(runCheck("p /d=x /s", check), "Flag D requires the use of flag E");
    EXPECT_EQ(requireFlags(nullptr, "A", "B"), nullptr);
}

namespace {

const OptionEntry kHostTable[] = {{'S', 0x20, 1}, {'C', 0x10, 0}, {'U', 0x08, 0}, {0, 0, 0}};
const OptionEntry kListTable[] = {
    {'D', 0x1E3C, 1}, {'H', 0x80204, 1}, {'A', 0x80408, 1}, {'*', 0x1F3E, 0}, {0, 0, 0}};

// "0x..." for a parsed value, or the message; the value is 0x1 before the call.
std::string options(const std::string& raw, char flag, const OptionEntry* table) {
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    uint32_t value = 0x40000000;
    testing::internal::CaptureStderr();
    int ok = parseOptions(args, flag, table, &value);
    std::string captured = joinLines(testing::internal::GetCapturedStderr());
    releaseArgs(args);
    char text[32];
    std::snprintf(text, sizeof text, "%d 0x%X", ok, value & ~0x40000000u);
    EXPECT_NE(value & 0x40000000u, 0u) << "bits held before the call are kept";
    return captured.empty() ? text : std::string(text) + " " + captured;
}

}  // namespace

TEST(FlagOptions, Letters) {
    const struct {
        const char* raw;
        char flag;
        const OptionEntry* table;
        const char* expected;
    } rows[] = {
        {"p", 'H', kHostTable, "1 0x0"},
        {"p /h", 'H', kHostTable, "1 0x18"},
        {"p /hs", 'H', kHostTable, "1 0x20"},
        {"p /h=scu", 'H', kHostTable, "1 0x38"},
        {"p /hUc", 'H', kHostTable, "1 0x18"},
        {"p /hcc", 'H', kHostTable, "0 0x0 Flag H has duplicate option C"},
        {"p /hx", 'H', kHostTable, "0 0x0 Flag H has illegal option X"},
        {"p /hsx", 'h', kHostTable, "0 0x0 Flag h has illegal option X"},
        {"p /l", 'L', kListTable, "1 0x1F3E"},
        {"p /ld*", 'L', kListTable, "1 0x1F3E"},
        {"p /l*d", 'L', kListTable, "0 0x0 Flag L has duplicate option D"},
        {"p /lhad", 'L', kListTable, "1 0x81E3C"},
        {"p /ldha", 'L', kListTable, "0 0x0 Flag L has duplicate option A"},
        {"p /l#", '#', kListTable, "0 0x0"},
        {"p /l", 'L', nullptr, "0 0x0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(options(row.raw, row.flag, row.table), row.expected) << row.raw;
    uint32_t value = 0;
    EXPECT_EQ(parseOptions(nullptr, 'L', kListTable, &value), 0);
}

TEST(FlagOptions, DuplicateCountsBitsHeldBefore) {
    std::string raw = "p /hc";
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    uint32_t value = 0x10;
    testing::internal::CaptureStderr();
    EXPECT_EQ(parseOptions(args, 'H', kHostTable, &value), 0);
    EXPECT_EQ(joinLines(testing::internal::GetCapturedStderr()), "Flag H has duplicate option C");
    EXPECT_EQ(value, 0x10u);
    releaseArgs(args);
}

TEST(FlagQueries, ArgumentsAndFlags) {
    std::string raw = "prog abcdef /d=xyz";
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    char buffer[4] = "???";
    EXPECT_EQ(getArgument(args, 1, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(getArgument(args, 1, nullptr, 0), 1);
    EXPECT_EQ(getArgument(args, 2, buffer, sizeof buffer), 0);
    EXPECT_EQ(getArgument(args, -1, buffer, sizeof buffer), 0);
    EXPECT_EQ(getArgument(nullptr, 0, buffer, sizeof buffer), 0);
    EXPECT_EQ(getFlag(args, 'd', buffer, 2), 1);
    EXPECT_STREQ(buffer, "x");
    EXPECT_EQ(getFlag(args, 'E', buffer, sizeof buffer), 0);
    EXPECT_EQ(getFlag(args, 'B', buffer, sizeof buffer), 0);
    EXPECT_EQ(getFlag(args, '#', buffer, sizeof buffer), 0);
    EXPECT_EQ(countArguments(args), 2);
    EXPECT_EQ(countArguments(nullptr), 0);
    EXPECT_EQ(countFlags(nullptr), 0);
    releaseArgs(args);
}

namespace {

// Runs one conversion on "prog ARG /n=VALUE"; the result, the output and the message.
template <typename T, typename Convert>
std::string convert(const std::string& raw, Convert function, T initial) {
    ParsedArgs* args = parseCommandLine(CommandSource{raw.c_str(), 0, nullptr}, 1, 9, kLetters,
                                        kUsage, windowsSwitch);
    T value = initial;
    testing::internal::CaptureStderr();
    int ok = function(args, &value);
    std::string captured = joinLines(testing::internal::GetCapturedStderr());
    releaseArgs(args);
    std::string text = std::to_string(ok) + " " + std::to_string(value);
    return captured.empty() ? text : text + " " + captured;
}

}  // namespace

TEST(FlagConversions, Integers) {
    auto arg = [](const ParsedArgs* a, int32_t* v) { return getIntArgument(a, 1, v); };
    auto flag = [](const ParsedArgs* a, int32_t* v) { return getIntFlag(a, '1', v); };
    EXPECT_EQ(convert<int32_t>("p 42", arg, 7), "1 42");
    EXPECT_EQ(convert<int32_t>("p \"-2147483648\"", arg, 7), "1 -2147483648");
    EXPECT_EQ(convert<int32_t>("p 2147483648", arg, 7), "0 7 Argument #1 is not an integer");
    EXPECT_EQ(convert<int32_t>("p 4x", arg, 7), "0 7 Argument #1 is not an integer");
    EXPECT_EQ(convert<int32_t>("p \"\"", arg, 7), "0 7 Argument #1 is not an integer");
    EXPECT_EQ(convert<int32_t>("p", arg, 7), "0 7");
    EXPECT_EQ(convert<int32_t>("p /1=-5", flag, 7), "1 -5");
    EXPECT_EQ(convert<int32_t>("p /1", flag, 7), "1 7");
    EXPECT_EQ(convert<int32_t>("p /1=5.0", flag, 7), "0 7 Flag 1 is not an integer");
    EXPECT_EQ(convert<int32_t>("p", flag, 7), "0 7");
}

TEST(FlagConversions, Hexadecimal) {
    auto arg = [](const ParsedArgs* a, uint32_t* v) { return getHexArgument(a, 1, v); };
    auto flag = [](const ParsedArgs* a, uint32_t* v) { return getHexFlag(a, 'A', v); };
    EXPECT_EQ(convert<uint32_t>("p 0x1F", arg, 7u), "1 31");
    EXPECT_EQ(convert<uint32_t>("p ffffFFFF", arg, 7u), "1 4294967295");
    EXPECT_EQ(convert<uint32_t>("p 0X10", arg, 7u), "1 16");
    EXPECT_EQ(convert<uint32_t>("p 0x", arg, 7u), "0 7 Argument #1 is not hexadecimal");
    EXPECT_EQ(convert<uint32_t>("p 1g", arg, 7u), "0 7 Argument #1 is not hexadecimal");
    EXPECT_EQ(convert<uint32_t>("p 100000000", arg, 7u), "0 7 Argument #1 is not hexadecimal");
    EXPECT_EQ(convert<uint32_t>("p /a:0xab", flag, 7u), "1 171");
    EXPECT_EQ(convert<uint32_t>("p /a", flag, 7u), "1 7");
    EXPECT_EQ(convert<uint32_t>("p /a=-1", flag, 7u), "0 7 Flag A is not hexadecimal");
}

TEST(FlagConversions, Reals) {
    auto arg = [](const ParsedArgs* a, double* v) { return getRealArgument(a, 2, v); };
    auto flag = [](const ParsedArgs* a, double* v) { return getRealFlag(a, 'V', v); };
    EXPECT_EQ(convert<double>("p x 1.5", arg, 7.0), "1 1.500000");
    EXPECT_EQ(convert<double>("p x \"-2e3\"", arg, 7.0), "1 -2000.000000");
    EXPECT_EQ(convert<double>("p x 1.5s", arg, 7.0),
              "0 7.000000 Argument #2 is not floating point");
    EXPECT_EQ(convert<double>("p x \"\"", arg, 7.0),
              "0 7.000000 Argument #2 is not floating point");
    EXPECT_EQ(convert<double>("p /v=.25", flag, 7.0), "1 0.250000");
    EXPECT_EQ(convert<double>("p /v", flag, 7.0), "1 7.000000");
    EXPECT_EQ(convert<double>("p /v=x", flag, 7.0), "0 7.000000 Flag V is not floating point");
}
