// File tree: the byte order of names (case, 255-byte prefix, surrogates, ties), the
// sorted insert of a whole directory against one insert per node, the pre-order
// walk, and the path forms including paths too long for their buffers.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/context.h"
#include "tree/filetree.h"

namespace {

// Nodes and their names for one test; FileNode holds plain pointers into these.
struct Forest {
    std::deque<FileNode> nodes;
    std::deque<std::u16string> names;

    FileNode* make(const std::u16string& name, uint32_t mode = kModeFile, int32_t tag = 0) {
        names.push_back(name);
        nodes.push_back(FileNode{});
        FileNode* node = &nodes.back();
        node->name = names.back().data();
        node->mode = mode;
        node->order = tag;
        return node;
    }
    FileNode* add(FileNode* directory, const std::u16string& name, uint32_t mode = kModeFile) {
        FileNode* node = make(name, mode);
        insertChildrenSorted(directory, &node, 1);
        return node;
    }
};

std::vector<std::u16string> childNames(const FileNode* directory) {
    std::vector<std::u16string> result;
    for (const FileNode* c = directory->firstChild; c != nullptr; c = c->nextSibling) {
        EXPECT_EQ(c->parent, directory);
        result.push_back(c->name);
    }
    return result;
}

// The reference order: each node after every child of a smaller or equal name.
void insertInOrder(FileNode* directory, FileNode* node) {
    FileNode** link = &directory->firstChild;
    while (*link != nullptr && compareNames(node->name, (*link)->name) >= 0)
        link = &(*link)->nextSibling;
    node->parent = directory;
    node->nextSibling = *link;
    *link = node;
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(CompareNames, OrdersByUnsignedUtf8Bytes) {
    struct Row {
        std::u16string a, b;
        int expected;
    };
    const Row rows[] = {
        {u"a", u"b", -1},
        {u"B", u"a", -1},                    // upper case first
        {u"README.txt", u"Readme.txt", -1},  // different names, README first
        {u"abc", u"ab", 1},                  // the longer one is greater
        {u"same", u"same", 0},
        {u"z", u"\u00e9", -1},       // 0x7A against 0xC3
        {u"\u00ff", u"\u0100", -1},  // C3 BF against C4 80
        // A pair sorts as its four-byte form (F0 ..), after U+E000 (EE 80 80).
        {std::u16string{0xD83D, 0xDE00}, u"\ue000", 1},
        {u"\ud7ff", std::u16string{0xD83D, 0xDE00}, -1},
        {u"", u"a", -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sign(compareNames(row.a.c_str(), row.b.c_str())), row.expected)
            << std::string(row.a.begin(), row.a.end());
        EXPECT_EQ(sign(compareNames(row.b.c_str(), row.a.c_str())), -row.expected);
    }
}

TEST(CompareNames, OnlyTheFirst255BytesTakePart) {
    std::u16string prefix(255, u'x');
    EXPECT_EQ(compareNames((prefix + u"a").c_str(), (prefix + u"b").c_str()), 0);
    EXPECT_LT(compareNames(std::u16string(254, u'x').c_str(), (prefix + u"b").c_str()), 0);
    // The prefix ends at a whole character: 127 two-byte characters fill 254 bytes and
    // the 128th no longer fits, while a one-byte 'a' still does.
    std::u16string accents(127, u'\u00e9');
    EXPECT_LT(compareNames((accents + u"\u00e9").c_str(), (accents + u"a").c_str()), 0);
    EXPECT_EQ(compareNames((accents + u"\u00e9").c_str(), (accents + u"\u00e8").c_str()), 0);
}

TEST(InsertChild, KeepsNameOrderAndFirstOfEqualNamesFirst) {
    Forest f;
    FileNode top{};
    f.add(&top, u"b");
    FileNode* firstA = f.add(&top, u"a");
    f.add(&top, u"c");
    FileNode* secondA = f.add(&top, u"a");
    EXPECT_EQ(childNames(&top), (std::vector<std::u16string>{u"a", u"a", u"b", u"c"}));
    EXPECT_EQ(top.firstChild, firstA);
    EXPECT_EQ(firstA->nextSibling, secondA);
}

// Names chosen to tie often: a small alphabet, duplicates, case pairs, and long names
// that agree in their first 255 bytes.
std::vector<std::u16string> awkwardNames(size_t count) {
    std::vector<std::u16string> names;
    uint32_t state = 12345;
    const std::u16string alphabet = u"aAbB\u00e9\u20ac._";
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        std::u16string name;
        if (state % 7 == 0) {
            name = std::u16string(255, u'L') + alphabet[(state >> 8) % alphabet.size()];
        } else {
            size_t length = 1 + (state >> 16) % 3;
            for (size_t k = 0; k < length; ++k)
                name += alphabet[(state >> (4 * k + 3)) % alphabet.size()];
        }
        names.push_back(name);
    }
    return names;
}

std::vector<int32_t> tagsInOrder(const FileNode* directory) {
    std::vector<int32_t> tags;
    for (const FileNode* c = directory->firstChild; c != nullptr; c = c->nextSibling) {
        EXPECT_EQ(c->parent, directory);
        tags.push_back(c->order);
    }
    return tags;
}

TEST(InsertChildrenSorted, GivesTheOrderOfOneInsertPerNode) {
    std::vector<std::u16string> names = awkwardNames(600);
    Forest one, all;
    FileNode topOne{}, topAll{};
    std::vector<FileNode*> batch;
    for (size_t i = 0; i < names.size(); ++i) {
        insertInOrder(&topOne, one.make(names[i], kModeFile, static_cast<int32_t>(i)));
        batch.push_back(all.make(names[i], kModeFile, static_cast<int32_t>(i)));
    }
    insertChildrenSorted(&topAll, batch.data(), batch.size());
    EXPECT_EQ(tagsInOrder(&topAll), tagsInOrder(&topOne));
}

TEST(InsertChildrenSorted, MergesBehindEqualChildrenAlreadyPresent) {
    std::vector<std::u16string> names = awkwardNames(300);
    Forest one, all;
    FileNode topOne{}, topAll{};
    for (size_t i = 0; i < 100; ++i) {
        insertInOrder(&topOne, one.make(names[i], kModeFile, static_cast<int32_t>(i)));
        insertInOrder(&topAll, all.make(names[i], kModeFile, static_cast<int32_t>(i)));
    }
    std::vector<FileNode*> batch;
    for (size_t i = 100; i < names.size(); ++i) {
        insertInOrder(&topOne, one.make(names[i], kModeFile, static_cast<int32_t>(i)));
        batch.push_back(all.make(names[i], kModeFile, static_cast<int32_t>(i)));
    }
    insertChildrenSorted(&topAll, batch.data(), batch.size());
    EXPECT_EQ(tagsInOrder(&topAll), tagsInOrder(&topOne));
    insertChildrenSorted(&topAll, nullptr, 0);
    EXPECT_EQ(tagsInOrder(&topAll), tagsInOrder(&topOne));
}

TEST(NextNode, WalksPreOrderAndStopsAtTheTop) {
    Forest f;
    FileNode top{};
    EXPECT_EQ(nextNode(&top), nullptr);  // empty tree
    EXPECT_EQ(nextNode(nullptr), nullptr);
    FileNode* dcim = f.add(&top, u"DCIM", kModeDirectory);
    f.add(&top, u"a.jpg");
    FileNode* camera = f.add(dcim, u"Camera", kModeDirectory);
    f.add(camera, u"x.jpg");
    f.add(dcim, u"empty", kModeDirectory);
    FileNode* last = f.add(&top, u"z.txt");
    std::vector<std::u16string> visited;
    for (FileNode* n = nextNode(&top); n != nullptr; n = nextNode(n)) visited.push_back(n->name);
    EXPECT_EQ(visited, (std::vector<std::u16string>{u"DCIM", u"Camera", u"x.jpg", u"empty",
                                                    u"a.jpg", u"z.txt"}));
    EXPECT_EQ(nextNode(last), nullptr);
    // A subtree of a larger tree: the walk still never returns a top node.
    FileNode outer{};
    FileNode* holder = f.add(&outer, u"holder", kModeDirectory);
    f.add(&outer, u"next");
    top.parent = holder;  // a top node keeps its null name, so the walk ends there
    EXPECT_EQ(nextNode(last), nullptr);
}

struct PathTest : ::testing::Test {
    std::unique_ptr<SyncContext> context = std::make_unique<SyncContext>();
    Forest f;
    char16_t separator = osPathSeparator();
    bool driveHost = osPathSeparator() == u'\\';

    void setRoots(const std::u16string& host, const std::u16string& alt,
                  const std::u16string& device) {
        std::copy(host.begin(), host.end(), context->hostRoot);
        context->hostRoot[host.size()] = 0;
        std::copy(alt.begin(), alt.end(), context->altRoot);
        context->altRoot[alt.size()] = 0;
        std::copy(device.begin(), device.end(), context->androidRoot);
        context->androidRoot[device.size()] = 0;
    }
    std::u16string host(const std::u16string& posix, const std::u16string& windows) {
        return driveHost ? windows : posix;
    }
};

TEST_F(PathTest, ComposesEveryForm) {
    setRoots(host(u"/data", u"C:\\data"), host(u"/alt", u"D:\\alt"), u"/sdcard");
    FileNode* top = &context->hostTop;
    FileNode* dcim = f.add(top, u"DCIM", kModeDirectory);
    FileNode* camera = f.add(dcim, u"Camera", kModeDirectory);
    FileNode* photo = f.add(camera, u"a\u00e9.jpg");
    char16_t wide[kPathChars];
    char narrow[kNarrowPathBytes];

    EXPECT_TRUE(relativePath(photo, u'\\', wide));
    EXPECT_EQ(std::u16string(wide), u"\\DCIM\\Camera\\a\u00e9.jpg");
    EXPECT_TRUE(relativePath(top, u'/', wide));
    EXPECT_EQ(std::u16string(wide), u"");

    EXPECT_TRUE(hostPath(context->hostRoot, photo, wide));
    std::u16string sep(1, separator);
    EXPECT_EQ(std::u16string(wide),
              host(u"/data", u"C:\\data") + sep + u"DCIM" + sep + u"Camera" + sep + u"a\u00e9.jpg");
    EXPECT_TRUE(hostPath(context->hostRoot, top, wide));
    EXPECT_EQ(std::u16string(wide), host(u"/data", u"C:\\data"));
    EXPECT_TRUE(hostPath(context->altRoot, dcim, wide));
    EXPECT_EQ(std::u16string(wide), host(u"/alt/DCIM", u"D:\\alt\\DCIM"));

    EXPECT_TRUE(devicePath(context->androidRoot, photo, narrow));
    EXPECT_STREQ(narrow, "/sdcard/DCIM/Camera/a\xC3\xA9.jpg");
    EXPECT_TRUE(devicePath(context->androidRoot, top, narrow));
    EXPECT_STREQ(narrow, "/sdcard");
    EXPECT_TRUE(devicePathNarrow(context->androidRoot, dcim, narrow));
    EXPECT_STREQ(narrow, "/sdcard/DCIM");
    EXPECT_TRUE(hostPathNarrow(context->hostRoot, camera, narrow));
    EXPECT_STREQ(narrow, driveHost ? "C:\\data\\DCIM\\Camera" : "/data/DCIM/Camera");

    displayPath(photo, narrow);
    char expected[64];
    osWideToNarrow(u"DCIM/Camera/a\u00e9.jpg", expected, sizeof expected);
    EXPECT_STREQ(narrow, expected);
    displayPath(dcim, narrow);
    EXPECT_STREQ(narrow, "DCIM");
    displayPath(top, narrow);
    EXPECT_STREQ(narrow, "");
}

TEST_F(PathTest, RootPathsOfTheWholeFileSystem) {
    setRoots(host(u"/", u"C:\\"), host(u"/", u"C:\\"), u"/");
    FileNode* x = f.add(&context->hostTop, u"x");
    char16_t wide[kPathChars];
    EXPECT_TRUE(hostPath(context->hostRoot, x, wide));
    // A drive root keeps its backslash, so two follow the colon; "/" adds nothing.
    EXPECT_EQ(std::u16string(wide), host(u"/x", u"C:\\\\x"));
    EXPECT_TRUE(hostPath(context->hostRoot, &context->hostTop, wide));
    EXPECT_EQ(std::u16string(wide), host(u"/", u"C:\\"));
    char narrow[kNarrowPathBytes];
    FileNode* device = f.add(&context->androidTop, u"DCIM");
    EXPECT_TRUE(devicePath(context->androidRoot, device, narrow));
    EXPECT_STREQ(narrow, "//DCIM");  // the device root is put in front unchanged
}

TEST_F(PathTest, APathThatDoesNotFitIsRefusedNotCut) {
    setRoots(host(u"/r", u"C:\\r"), host(u"/r", u"C:\\r"), u"/sdcard");
    // Relative path of 1 + 1022 characters: fits 1024 with its terminator exactly.
    FileNode* fits = f.add(&context->androidTop, std::u16string(1022, u'f'));
    char16_t wide[kPathChars];
    EXPECT_TRUE(relativePath(fits, u'/', wide));
    EXPECT_EQ(std::u16string(wide).size(), 1023u);
    FileNode* tooLong = f.add(&context->androidTop, std::u16string(1023, u'g'));
    EXPECT_FALSE(relativePath(tooLong, u'/', wide));
    // The output is visibly shortened, keeping the end of the path.
    std::u16string shown(wide);
    EXPECT_EQ(shown.size(), 1023u);
    EXPECT_EQ(shown.substr(0, 4), u"...g");

    FileNode* deep = &context->hostTop;
    for (int i = 0; i < 6; ++i) deep = f.add(deep, std::u16string(200, u'a' + i), kModeDirectory);
    FileNode* leaf = f.add(deep, u"leaf.txt");
    EXPECT_FALSE(hostPath(context->hostRoot, leaf, wide));
    EXPECT_EQ(std::u16string(wide).substr(std::u16string(wide).size() - 8), u"leaf.txt");
    EXPECT_FALSE(hostPath(context->altRoot, leaf, wide));
    char narrow[kNarrowPathBytes];
    EXPECT_FALSE(hostPathNarrow(context->hostRoot, leaf, narrow));
    EXPECT_EQ(std::string(narrow).substr(0, 3), "...");
    EXPECT_LT(std::string(narrow).size(), kNarrowPathBytes);
    EXPECT_FALSE(devicePath(context->androidRoot, leaf, narrow));
    EXPECT_FALSE(devicePathNarrow(context->androidRoot, leaf, narrow));
    displayPath(leaf, narrow);
    EXPECT_EQ(std::string(narrow).substr(0, 3), "...");

    // The UTF-16 form fits, the UTF-8 form (two bytes per character) does not.
    FileNode* wideOnly = f.add(&context->androidTop, std::u16string(600, u'\u00e9'));
    EXPECT_TRUE(relativePath(wideOnly, u'/', wide));
    EXPECT_FALSE(devicePath(context->androidRoot, wideOnly, narrow));
    EXPECT_EQ(std::string(narrow).substr(0, 3), "...");
    EXPECT_LT(std::string(narrow).size(), kNarrowPathBytes);
}

}  // namespace
