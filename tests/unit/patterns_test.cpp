// Tests of the /i and /o patterns: the wildcard matcher, the list parser with the
// pattern kinds, and the filter over file and folder nodes.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/heap.h"
#include "tree/filetree.h"
#include "tree/patterns.h"

namespace {

struct WildcardRow {
    const char16_t* name;
    const char16_t* pattern;
    bool matches;
};

const WildcardRow wildcardRows[] = {
    {u"readme.txt", u"*.TXT", true},
    {u"README.TXT", u"readme.txt", true},
    {u"readme.txt", u"readme.tx", false},
    {u"", u"?", false},
    {u"a", u"?", true},
    {u"ab", u"?", false},
    {u"aXbYc", u"a*b*c", true},
    {u"abc", u"a*b*c", true},
    {u"ab", u"a*b*c", false},
    {u"aXbYcZ", u"a*b*c", false},
    {u"acb", u"a*b*c", false},
    {u"anything at all", u"*", true},
    {u"", u"*", true},
    {u"", u"**", true},
    {u"", u"", true},
    {u"a", u"", false},
    {u".tx", u"*.txt", false},
    {u".txt", u"*.txt", true},
    {u"a.txt.bak", u"*.txt", false},
    {u"x.txt.txt", u"*.txt", true},
    {u"", u"*?", false},
    {u"a", u"*?", true},
    {u"a", u"a*?", false},
    {u"abc", u"a**?", true},
    {u"abcbc", u"a*bc", true},
    {u"abcbd", u"a*bc*d", true},
    {u"abXd", u"a*bc*d", false},
    {u"mississippi", u"m*iss*ppi", true},
    {u"mississippi", u"m*iss*ipi", false},
    {u"a*b", u"a?b", true},  // no escapes: '*' in a name is an ordinary character
    {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true},  // Latin-1 letters compare without case
    {u"x.doc", u"*.do?", true},
};

TEST(Wildcard, Table) {
    for (const WildcardRow& row : wildcardRows) {
        std::u16string name(row.name), pattern(row.pattern);
        EXPECT_EQ(matchWildcard(row.name, row.pattern), row.matches)
            << std::string(name.begin(), name.end()) << " vs "
            << std::string(pattern.begin(), pattern.end());
    }
}

TEST(Wildcard, NullGivesFalse) {
    EXPECT_FALSE(matchWildcard(nullptr, u"*"));
    EXPECT_FALSE(matchWildcard(u"a", nullptr));
}

// Many '*' against a long name that almost matches: a matcher that retries every
// earlier '*' would not finish.
TEST(Wildcard, ManyStarsStayTractable) {
    std::u16string pattern;
    for (int i = 0; i < 40; ++i) pattern += u"*a";
    std::u16string name(250, u'a');
    EXPECT_FALSE(matchWildcard(name.c_str(), (pattern + u"b").c_str()));
    EXPECT_TRUE(matchWildcard((name + u"b").c_str(), (pattern + u"*b").c_str()));
    EXPECT_TRUE(matchWildcard(name.c_str(), pattern.c_str()));
    EXPECT_FALSE(matchWildcard(std::u16string(39, u'a').c_str(), pattern.c_str()));
}

TEST(Wildcard, PatternsOf300Characters) {
    std::u16string x300(300, u'x');
    std::u16string x255(255, u'x');
    EXPECT_TRUE(matchWildcard(x300.c_str(), x300.c_str()));
    EXPECT_FALSE(matchWildcard(x255.c_str(), x300.c_str()));
    std::u16string starred = std::u16string(299, u'x') + u"*";
    EXPECT_TRUE(matchWildcard((std::u16string(299, u'x') + u".tail").c_str(), starred.c_str()));
    EXPECT_FALSE(matchWildcard(x255.c_str(), starred.c_str()));
}

class PatternListTest : public ::testing::Test {
protected:
    void SetUp() override { heapInit(&heap, kHeapStep); }
    void TearDown() override { heapRelease(&heap); }

    std::vector<std::u16string> parse(const char* value) {
        std::vector<std::u16string> patterns;
        for (PatternList* node = parsePatternList(&heap, value); node != nullptr; node = node->next)
            patterns.push_back(node->pattern);
        return patterns;
    }

    PrivateHeap heap = {};
};

using Patterns = std::vector<std::u16string>;

TEST_F(PatternListTest, EntriesAndBlanks) {
    EXPECT_EQ(parse("a.txt ; ;  b* ;;"), (Patterns{u"a.txt", u"b*"}));
    EXPECT_EQ(parse("*.tmp;*.txt"), (Patterns{u"*.tmp", u"*.txt"}));
    EXPECT_EQ(parse("  my file.txt  ;x"), (Patterns{u"my file.txt", u"x"}));
    EXPECT_EQ(parse("x;"), (Patterns{u"x"}));
    EXPECT_EQ(parse(";x"), (Patterns{u"x"}));
}

TEST_F(PatternListTest, NothingGivesNull) {
    EXPECT_EQ(parsePatternList(&heap, ""), nullptr);
    EXPECT_EQ(parsePatternList(&heap, "    "), nullptr);
    EXPECT_EQ(parsePatternList(&heap, " ; ;;  ;"), nullptr);
    EXPECT_EQ(parsePatternList(&heap, nullptr), nullptr);
}

TEST_F(PatternListTest, TabsAreNotBlanks) {
    EXPECT_EQ(parse("\t"), (Patterns{u"\t"}));
    EXPECT_EQ(parse(" \ta.txt\t ;b"), (Patterns{u"\ta.txt\t", u"b"}));
}

// The value is narrow text of the platform (ANSI code page or UTF-8).
TEST_F(PatternListTest, NarrowTextBecomesUtf16) {
    char narrow[16];
    osWideToNarrow(u"\u00e9*;\u00fc", narrow, sizeof narrow);
    EXPECT_EQ(parse(narrow), (Patterns{u"\u00e9*", u"\u00fc"}));
}

// A pattern over 255 characters is kept whole rather than cut.
TEST_F(PatternListTest, LongPatternKeptWhole) {
    std::string value = std::string(300, 'y') + ";" + std::string(299, 'z') + "*";
    Patterns patterns = parse(value.c_str());
    ASSERT_EQ(patterns.size(), 2u);
    EXPECT_EQ(patterns[0], std::u16string(300, u'y'));
    EXPECT_EQ(patterns[1].size(), 300u);
    EXPECT_FALSE(matchWildcard(std::u16string(255, u'y').c_str(), patterns[0].c_str()));
    EXPECT_FALSE(matchWildcard(std::u16string(299, u'z').c_str(), patterns[0].c_str()));
    EXPECT_TRUE(matchWildcard((std::u16string(299, u'z') + u"!").c_str(), patterns[1].c_str()));
}

// A node at `path` below a top node, its directories made on the way; kept alive by
// the test's deque.
FileNode* nodeAt(std::deque<FileNode>* nodes, std::deque<std::u16string>* names,
                 const std::u16string& path, bool directory) {
    FileNode* parent = &nodes->emplace_back();
    size_t start = 0;
    for (;;) {
        size_t slash = path.find(u'/', start);
        FileNode* node = &nodes->emplace_back();
        node->parent = parent;
        node->name = names->emplace_back(path.substr(start, slash - start)).data();
        bool last = slash == std::u16string::npos;
        node->mode = last && !directory ? kModeFile : kModeDirectory;
        if (last) return node;
        parent = node;
        start = slash + 1;
    }
}

// /i wins over /o; /o looks at file names only; folder patterns (final '/') match
// directories only, by name or, with another '/', by the whole path below the root;
// a path pattern without the final '/' matches files by their path.
TEST_F(PatternListTest, FilterRows) {
    const struct {
        const char* ignore;
        const char* only;
        const char16_t* path;
        bool directory;
        bool ignored;
    } rows[] = {
        {nullptr, nullptr, u"anything", false, false},
        {"*.tmp", "*.tmp;*.txt", u"a.tmp", false, true},
        {"*.tmp", "*.tmp;*.txt", u"d/b.txt", false, false},
        {"*.tmp", "*.tmp;*.txt", u"c.doc", false, true},
        {"*.tmp", "*.tmp;*.txt", u"B.TXT", false, false},
        {"~*;*.bak", nullptr, u"~lock", false, true},
        {"~*;*.bak", nullptr, u"x.bak2", false, false},
        {nullptr, "*.jpg", u"a.JPG", false, false},
        {nullptr, "*.jpg", u"a.png", false, true},
        {nullptr, "*.jpg", u"Camera", true, false},
        {"Sent", nullptr, u"WhatsApp/Sent", true, false},
        {"Sent/", nullptr, u"WhatsApp/Media/sent", true, true},
        {"Sent/", nullptr, u"Sent", true, true},
        {"Sent/", nullptr, u"WhatsApp/Sent", false, false},
        {"*/Sent/", nullptr, u"Sent", true, false},
        {"*/Sent/", nullptr, u"WhatsApp/Media/Sent", true, true},
        {"*/Sent/", nullptr, u"WhatsApp/Sent2", true, false},
        {"DCIM/.thumbnails/", nullptr, u"DCIM/.thumbnails", true, true},
        {"DCIM/.thumbnails/", nullptr, u"x/DCIM/.thumbnails", true, false},
        {"/DCIM/", nullptr, u"DCIM", true, true},
        {"/DCIM/", nullptr, u"a/DCIM", true, false},
        {"Music/*.m3u", nullptr, u"Music/a.m3u", false, true},
        {"Music/*.m3u", nullptr, u"Music/lists/a.M3U", false, true},
        {"Music/*.m3u", nullptr, u"Podcasts/Music/a.m3u", false, false},
        {"Music/*.m3u", nullptr, u"Music/x.m3u", true, false},
        {"/;//", nullptr, u"a", true, false},
    };
    for (const auto& row : rows) {
        std::deque<FileNode> nodes;
        std::deque<std::u16string> names;
        FileNode* node = nodeAt(&nodes, &names, row.path, row.directory);
        PatternList* ignore = parsePatternList(&heap, row.ignore);
        PatternList* only = parsePatternList(&heap, row.only);
        std::u16string path(row.path);
        EXPECT_EQ(isIgnored(ignore, only, node), row.ignored)
            << (row.ignore ? row.ignore : "-") << " " << (row.only ? row.only : "-") << " "
            << std::string(path.begin(), path.end());
    }
}

// A value of 1023 bytes of '/' and '*' against a deep path: no backtracking blow-up.
TEST_F(PatternListTest, SlashesAndStarsStayTractable) {
    std::string value;
    for (int i = 0; i < 250; ++i) value += "*/";
    value += "x/;";
    while (value.size() < 1023) value += "/*";
    value.resize(1023);
    std::u16string path;
    for (int i = 0; i < 300; ++i) path += u"d/";
    std::deque<FileNode> nodes;
    std::deque<std::u16string> names;
    PatternList* ignore = parsePatternList(&heap, value.c_str());
    EXPECT_FALSE(isIgnored(ignore, nullptr, nodeAt(&nodes, &names, path + u"y", true)));
    EXPECT_TRUE(isIgnored(ignore, nullptr, nodeAt(&nodes, &names, path + u"x", true)));
}

}  // namespace
