// Host file system access against real directories: root normalisation (drive-letter
// hosts under Wine, POSIX hosts natively), parents, directory creation and its
// messages, file creation, entry queries and directory reads.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hostfs/hostfs.h"
#include "raised_code.h"
#include "run/context.h"
#include "support/errors.h"
#include "tree/filetree.h"

#ifndef _WIN32
#include <sys/stat.h>  // mkfifo: the POSIX-only cases below
#endif

namespace fs = std::filesystem;

namespace {

bool driveHost() {
    return osPathSeparator() == u'\\';
}

std::string narrow(const std::u16string& wide) {
    char out[kNarrowPathBytes * 3];
    osWideToNarrow(wide.c_str(), out, sizeof out);
    return out;
}

std::u16string lower(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

// Standard output captured by the test framework. Windows reads it back in text mode,
// so its CR LF line ends arrive as LF; expected texts are written with LF.
std::string capturedStdout() {
    std::string text = ::testing::internal::GetCapturedStdout();
    if (std::string(osLineEnd()) == "\r\n") std::erase(text, '\r');
    return text;
}

// A fresh directory per test, removed afterwards; the working directory is restored.
struct HostFsTest : ::testing::Test {
    fs::path dir;
    fs::path savedCwd = fs::current_path();
    std::unique_ptr<SyncContext> context = std::make_unique<SyncContext>();

    void SetUp() override {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() /
              ("tandrix-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(stamp));
        fs::create_directories(dir);
        dir = fs::canonical(dir);
    }
    void TearDown() override {
        osFailCall(OS_MKDIR, 0);
        osFailCall(OS_CREATE_WRITE, 0);
        fs::current_path(savedCwd);
        heapRelease(&context->heap);
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    std::u16string path(const std::u16string& relative = u"") const {
        std::u16string base = dir.u16string();
        return relative.empty() ? base : base + osPathSeparator() + relative;
    }
    std::u16string sep(const std::u16string& posixForm) const {
        std::u16string text = posixForm;
        for (char16_t& c : text)
            if (c == u'/') c = osPathSeparator();
        return text;
    }
    void writeFile(const std::u16string& relative, const std::string& content) {
        std::ofstream(fs::path(path(sep(relative))), std::ios::binary) << content;
    }
    std::u16string root(const std::string& argument) {
        char16_t out[kRootChars];
        out[0] = u'#';
        bool ok = normaliseHostRoot(argument.c_str(), out);
        EXPECT_EQ(ok, out[0] != 0) << argument;
        return ok ? std::u16string(out) : u"<refused>";
    }
};

// ---------------------------------------------------------------------------
// Roots
// ---------------------------------------------------------------------------

TEST_F(HostFsTest, HostRootOnADriveLetterHostTakesTheStoredCase) {
    if (!driveHost()) GTEST_SKIP() << "drive-letter hosts only";
    fs::create_directories(dir / "StoredCase" / "Inner");
    writeFile(u"StoredCase/File.TXT", "x");
    std::u16string base = path();
    std::string typed = narrow(lower(base)) + "\\storedcase\\INNER\\";
    EXPECT_EQ(root(typed), base + u"\\StoredCase\\Inner");
    EXPECT_TRUE(isAsciiLetter(root(typed)[0]));
    EXPECT_EQ(root(typed)[0], base[0] >= u'a' ? base[0] - 32 : base[0]);
    // Missing components and everything after a file stay as typed.
    EXPECT_EQ(root(narrow(base) + "\\storedcase\\new\\Dir"), base + u"\\StoredCase\\new\\Dir");
    EXPECT_EQ(root(narrow(base) + "\\storedcase\\file.txt\\more"),
              base + u"\\StoredCase\\File.TXT\\more");
    // A wildcard component and every later one are kept as typed.
    EXPECT_EQ(root(narrow(base) + "\\storedcase\\*.txt\\inner"),
              base + u"\\StoredCase\\*.txt\\inner");
    EXPECT_EQ(root(narrow(base) + "\\storedcase\\inn?r"), base + u"\\StoredCase\\inn?r");
    // Relative to the working directory, with "." and "..".
    fs::current_path(dir / "StoredCase");
    EXPECT_EQ(root("inner"), base + u"\\StoredCase\\Inner");
    EXPECT_EQ(root(".\\x\\..\\INNER"), base + u"\\StoredCase\\Inner");
    EXPECT_EQ(root("."), base + u"\\StoredCase");
    // The drive root keeps its backslash and an upper-case letter.
    std::string drive(1, static_cast<char>(lower(base)[0]));
    EXPECT_EQ(root(drive + ":\\"),
              std::u16string(1, base[0] >= u'a' ? base[0] - 32 : base[0]) + u":\\");
    EXPECT_EQ(root("\\\\server\\share"), u"<refused>");
    EXPECT_EQ(root("\\\\?\\C:\\x"), u"<refused>");
    EXPECT_EQ(root(""), u"<refused>");
}

TEST_F(HostFsTest, HostRootOnAPosixHostIsResolvedLexically) {
    if (driveHost()) GTEST_SKIP() << "POSIX hosts only";
    fs::create_directories(dir / "Mixed");
    std::string base = narrow(path());
    EXPECT_EQ(root("/"), u"/");
    EXPECT_EQ(root("//"), u"/");
    EXPECT_EQ(root("/../x"), u"/x");
    EXPECT_EQ(root(base + "//Mixed/./sub/..//"), path(u"Mixed"));
    EXPECT_EQ(root(base + "/mixed"), path(u"mixed"));  // no case change
    EXPECT_EQ(root(base + "/Mixed/*.jpg/x?"), path(u"Mixed/*.jpg/x?"));
    fs::current_path(dir);
    EXPECT_EQ(root("Mixed"), path(u"Mixed"));
    EXPECT_EQ(root("photos/"), path(u"photos"));
    EXPECT_EQ(root("."), path());
    EXPECT_EQ(root("./Mixed/../.."), dir.parent_path().u16string());
    EXPECT_EQ(root(""), u"<refused>");
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(root("a\\b"), path(u"a\\b"));
}

TEST_F(HostFsTest, ARootTooLongForItsBufferIsRefused) {
    std::string deep = narrow(path());
    while (deep.size() < 1100) deep += narrow(sep(u"/abcdefghij"));
    EXPECT_EQ(root(deep), u"<refused>");
    char16_t device[kRootChars];
    EXPECT_FALSE(normaliseDeviceRoot(std::string(1100, 'd').c_str(), device));
    EXPECT_EQ(device[0], 0);
}

TEST(DeviceRoot, OneLeadingAndNoTrailingSlash) {
    struct Row {
        const char* argument;
        const char16_t* expected;
    };
    const Row rows[] = {
        {"sdcard/DCIM/", u"/sdcard/DCIM"},
        {"/sdcard", u"/sdcard"},
        {"/", u"/"},
        {"", u"/"},
        {"//x", u"//x"},
        {"a//b/./../", u"/a//b/./.."},
        {"a\\b\\", u"/a\\b\\"},
        {"x//", u"/x/"},
    };
    for (const Row& row : rows) {
        char16_t out[kRootChars];
        EXPECT_TRUE(normaliseDeviceRoot(row.argument, out));
        EXPECT_EQ(std::u16string(out), row.expected) << row.argument;
    }
}

TEST(ParentDirectory, FollowsTheHostPathSyntax) {
    struct Row {
        const char16_t* path;
        const char16_t* expected;
    };
    const std::vector<Row> drive = {
        {u"C:\\a\\b", u"C:\\a"}, {u"C:\\a", u"C:\\"},        {u"C:\\", u"C:\\"},
        {u"foo", u""},           {u"C:a", u"C:\\"},          {u"\\x", u""},
        {u"ab\\c", u"ab"},       {u"C:\\abc\\", u"C:\\abc"},
    };
    const std::vector<Row> posix = {
        {u"/a/b", u"/a"}, {u"/a", u"/"}, {u"/", u"/"},        {u"foo", u""},
        {u"a/b", u"a"},   {u"C:a", u""}, {u"/abc/", u"/abc"}, {u"/ab/c:d", u"/ab"},
    };
    for (const Row& row : driveHost() ? drive : posix) {
        char16_t out[kPathChars];
        parentDirectory(row.path, out);
        EXPECT_EQ(std::u16string(out), row.expected) << narrow(row.path);
    }
    EXPECT_TRUE(isAsciiLetter(u'A') && isAsciiLetter(u'z'));
    EXPECT_FALSE(isAsciiLetter(u'@') || isAsciiLetter(u'[') || isAsciiLetter(u'`') ||
                 isAsciiLetter(u'{') || isAsciiLetter(u'\u00e9'));
}

// ---------------------------------------------------------------------------
// Directory creation and files
// ---------------------------------------------------------------------------

TEST_F(HostFsTest, CreateDirectoryPathMakesEveryMissingLevel) {
    std::u16string target = path(sep(u"one/two/three"));
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(createDirectoryPath(target.c_str()));
    EXPECT_TRUE(createDirectoryPath(target.c_str()));  // existing: nothing to do
    EXPECT_EQ(capturedStdout(), "");
    EXPECT_TRUE(fs::is_directory(fs::path(target)));
}

TEST_F(HostFsTest, CreateDirectoryPathMessages) {
    writeFile(u"plain", "x");
    const std::string end = "\n";
    std::u16string file = path(u"plain");
    std::u16string chain = path(sep(u"plain/a/b"));

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(createDirectoryPath(file.c_str()));
    EXPECT_EQ(capturedStdout(), "Path already exists, but not as directory " + narrow(file) + end);

    // A file in the way fails every level on the way back, innermost first.
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(createDirectoryPath(chain.c_str()));
    EXPECT_EQ(capturedStdout(), "Path already exists, but not as directory " + narrow(file) + end +
                                    "Could not create parent directory " + narrow(file) + end +
                                    "Could not create parent directory " +
                                    narrow(path(sep(u"plain/a"))) + end);

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(createDirectoryPath(u""));
    EXPECT_FALSE(createDirectoryPath(nullptr));
    EXPECT_EQ(capturedStdout(), "Invalid path " + end + "Invalid path " + end);

    // The third mkdir (m1/m2 once m1 exists) is made to fail.
    std::u16string nested = path(sep(u"m1/m2"));
    osFailCall(OS_MKDIR, 3);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(createDirectoryPath(nested.c_str()));
    EXPECT_EQ(capturedStdout(), "Could not create subdirectory " + narrow(nested) + end);
    EXPECT_TRUE(fs::is_directory(fs::path(path(u"m1"))));
}

TEST_F(HostFsTest, MissingDriveFailsAtTheRootAndEveryLevelAbove) {
    if (!driveHost()) GTEST_SKIP() << "drive-letter hosts only";
    std::u16string missing;
    for (char16_t letter = u'Q'; letter <= u'Y' && missing.empty(); ++letter) {
        std::u16string drive = std::u16string(1, letter) + u":\\";
        OsFileInfo info;
        if (!osStatPath(drive.c_str(), &info)) missing = drive;
    }
    if (missing.empty()) GTEST_SKIP() << "no unused drive letter";
    const std::string end = "\n";
    std::u16string target = missing + u"a\\b";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(createDirectoryPath(target.c_str()));
    EXPECT_EQ(capturedStdout(), "Could not create root directory " + narrow(missing) + end +
                                    "Could not create parent directory " + narrow(missing) + end +
                                    "Could not create parent directory " + narrow(missing + u"a") +
                                    end);
}

TEST_F(HostFsTest, CreateHostFileMakesParentsAndTruncates) {
    std::u16string target = path(sep(u"new/deeper/file.bin"));
    OsFile file = createHostFile(target.c_str());
    ASSERT_NE(file, kNoFile);
    EXPECT_TRUE(osWriteFile(file, "longer content", 14));
    osCloseFile(file);
    file = createHostFile(target.c_str());
    EXPECT_TRUE(osWriteFile(file, "short", 5));
    osCloseFile(file);
    std::ifstream in{fs::path(target), std::ios::binary};
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "short");
}

TEST_F(HostFsTest, CreateHostFileFailuresAreFatalAndNameThePath) {
    writeFile(u"plain", "x");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(raisedCode([&] { createHostFile(path(sep(u"plain/sub/f")).c_str()); }),
              ERR_DIR_CREATE);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(raisedText()), narrow(path(sep(u"plain/sub"))));

    std::u16string target = path(u"f.txt");
    osFailCall(OS_CREATE_WRITE, 1);
    EXPECT_EQ(raisedCode([&] { createHostFile(target.c_str()); }), ERR_FILE_CREATE);
    EXPECT_EQ(std::string(raisedText()), narrow(target));
    EXPECT_FALSE(fs::exists(fs::path(target)));
}

TEST_F(HostFsTest, TempFileIsNewAndBesideTheTarget) {
    writeFile(u"keep.txt", "old");
    std::u16string target = path(u"keep.txt");
    char16_t temp[kPathChars];
    OsFile file = createHostTempFile(target.c_str(), temp);
    ASSERT_NE(file, kNoFile);
    osCloseFile(file);
    fs::path tempPath{std::u16string(temp)};
    EXPECT_EQ(tempPath.parent_path(), dir);
    EXPECT_EQ(tempPath.filename().string().rfind(".keep.txt.tandrix-", 0), 0u);
    EXPECT_TRUE(fs::exists(tempPath));
    char16_t second[kPathChars];
    osCloseFile(createHostTempFile(target.c_str(), second));
    EXPECT_NE(std::u16string(second), std::u16string(temp));
    std::ifstream in{fs::path(target)};
    std::string old;
    in >> old;
    EXPECT_EQ(old, "old");  // the target is never touched

    // Parents are created first, as for createHostFile.
    std::u16string nested = path(sep(u"x/y/z.bin"));
    osCloseFile(createHostTempFile(nested.c_str(), temp));
    EXPECT_EQ(fs::path(std::u16string(temp)).parent_path(), fs::path(path(sep(u"x/y"))));

    osFailCall(OS_CREATE_WRITE, 1);
    EXPECT_EQ(raisedCode([&] { createHostTempFile(target.c_str(), temp); }), ERR_FILE_CREATE);
}

// ---------------------------------------------------------------------------
// Queries and directory reads
// ---------------------------------------------------------------------------

constexpr uint64_t kSomeTime = 132000000001234567ull;  // 2019-04-13, 100 ns precision

struct ReadResult {
    std::u16string name;
    uint32_t mode;
    uint64_t size;
};

std::vector<ReadResult> children(const FileNode* directory) {
    std::vector<ReadResult> result;
    for (const FileNode* c = directory->firstChild; c != nullptr; c = c->nextSibling) {
        EXPECT_EQ(c->parent, directory);
        result.push_back({c->name, c->mode, c->size});
    }
    return result;
}

TEST_F(HostFsTest, StatHostNodeFillsTypeSizeAndTime) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    OsFile handle = osCreateWrite(path(u"data.bin").c_str());
    ASSERT_NE(handle, kNoFile);
    ASSERT_TRUE(osWriteFile(handle, "0123456789", 10));
    ASSERT_TRUE(osSetFileTime(handle, kSomeTime));
    osCloseFile(handle);

    FileNode node{};
    char16_t name[] = u"data.bin";
    node.name = name;
    node.parent = &context->hostTop;
    ASSERT_TRUE(statHostNode(context->hostRoot, &node));
    EXPECT_EQ(node.mode, kModeFile);
    EXPECT_EQ(node.size, 10u);
    EXPECT_EQ(sizeLow32(node.size), 10u);
    EXPECT_EQ(node.mtime, kSomeTime);

    ASSERT_TRUE(statHostNode(context->hostRoot, &context->hostTop));
    EXPECT_EQ(context->hostTop.mode, kModeDirectory);

    char16_t missing[] = u"missing";
    FileNode absent{};
    absent.name = missing;
    absent.parent = &context->hostTop;
    absent.size = 77;
    EXPECT_FALSE(statHostNode(context->hostRoot, &absent));
    EXPECT_EQ(absent.size, 77u);
}

TEST_F(HostFsTest, SizesBeyond32BitsKeepTheWholeSize) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    writeFile(u"big", "");
    std::error_code error;
    fs::resize_file(fs::path(path(u"big")), 0x100000010ull, error);  // sparse where it can be
    if (error) GTEST_SKIP() << "cannot make a file over 4 GiB here";
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    ASSERT_NE(context->hostTop.firstChild, nullptr);
    EXPECT_EQ(sizeLow32(context->hostTop.firstChild->size), 0x10u);
    EXPECT_EQ(context->hostTop.firstChild->size, 0x100000010ull);
}

TEST_F(HostFsTest, ReadHostDirectoryTakesEveryEntryInNameOrder) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    writeFile(u"a.txt", "abc");
    writeFile(u".h", "hidden");
    fs::create_directory(dir / "B");
    writeFile(u"B/inner", "1");
    OsFile handle = osCreateWrite(path(u"a.txt").c_str());
    osWriteFile(handle, "abc", 3);
    osSetFileTime(handle, kSomeTime);
    osCloseFile(handle);

    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    std::vector<ReadResult> got = children(&context->hostTop);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].name, u".h");
    EXPECT_EQ(got[0].mode, kModeFile);
    EXPECT_EQ(got[0].size, 6u);
    EXPECT_EQ(got[1].name, u"B");
    EXPECT_EQ(got[1].mode, kModeDirectory);
    EXPECT_EQ(got[2].name, u"a.txt");
    EXPECT_EQ(got[2].size, 3u);
    FileNode* a = context->hostTop.firstChild->nextSibling->nextSibling;
    EXPECT_EQ(a->mtime, kSomeTime);
    EXPECT_EQ(a->firstChild, nullptr);
    EXPECT_EQ(a->status, 0);
    EXPECT_GE(context->heap.used, 3 * sizeof(FileNode));  // nodes come from the run's heap

    // A subdirectory reads through its composed path.
    FileNode* b = context->hostTop.firstChild->nextSibling;
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, b, &context->hostWalk));
    ASSERT_EQ(children(b).size(), 1u);
    EXPECT_EQ(children(b)[0].name, u"inner");
}

TEST_F(HostFsTest, ADriveRootReadsAndItsChildrenCanBeQueried) {
    if (!driveHost()) GTEST_SKIP() << "drive-letter hosts only";
    std::u16string base = path();
    std::u16string drive = base.substr(0, 3);                        // "C:\"
    std::u16string first = base.substr(3, base.find(u'\\', 3) - 3);  // e.g. "users"
    std::copy(drive.begin(), drive.end(), context->hostRoot);
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    FileNode* found = nullptr;
    for (FileNode* c = context->hostTop.firstChild; c != nullptr; c = c->nextSibling)
        if (lower(c->name) == lower(first)) found = c;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->mode, kModeDirectory);
    found->mode = 0;
    char16_t composed[kPathChars];
    ASSERT_TRUE(hostPath(context->hostRoot, found, composed));
    EXPECT_EQ(std::u16string(composed), drive + u"\\" + found->name);  // two backslashes
    EXPECT_TRUE(statHostNode(context->hostRoot, found));
    EXPECT_EQ(found->mode, kModeDirectory);
}

TEST_F(HostFsTest, NamesDifferingOnlyInCaseAreTwoEntries) {
    if (driveHost()) GTEST_SKIP() << "case-sensitive file systems only";
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    writeFile(u"Readme.txt", "1");
    writeFile(u"README.txt", "22");
    writeFile(u"b", "");
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    std::vector<ReadResult> got = children(&context->hostTop);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].name, u"README.txt");
    EXPECT_EQ(got[1].name, u"Readme.txt");
    EXPECT_EQ(got[2].name, u"b");
}

TEST_F(HostFsTest, UnreadableOrTooLongDirectoriesReadAsEmpty) {
    std::u16string missing = path(u"missing");
    std::copy(missing.begin(), missing.end(), context->hostRoot);
    EXPECT_FALSE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                   &context->hostWalk));
    EXPECT_EQ(context->hostTop.firstChild, nullptr);

    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    context->hostRoot[base.size()] = 0;
    std::u16string longName(1100, u'n');
    FileNode deep{};
    deep.name = longName.data();
    deep.mode = kModeDirectory;
    deep.parent = &context->hostTop;
    EXPECT_FALSE(readHostDirectory(&context->heap, context->hostRoot, &deep, &context->hostWalk));
    EXPECT_FALSE(statHostNode(context->hostRoot, &deep));
}

TEST_F(HostFsTest, ReadLeavesOutTheTemporaryFilesOfAnInterruptedPull) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    writeFile(u"photo.jpg", "old");
    char16_t temp[kPathChars];
    std::u16string target = base + osPathSeparator() + u"photo.jpg";
    osCloseFile(createHostTempFile(target.c_str(), temp));  // as a killed pull leaves it
    writeFile(u".a.tandrix-0a1b2c", "");                    // lower-case digits: not one of ours
    writeFile(u"b.tandrix-0A1B2C", "");                     // no leading dot: not one of ours
    fs::create_directory(dir / ".c.tandrix-0A1B2C");        // directories are never ours

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    std::string message = ::testing::internal::GetCapturedStderr();
    std::u16string tempName(temp + base.size() + 1);
    EXPECT_NE(message.find(narrow(tempName) + "\": a temporary file of an interrupted pull"),
              std::string::npos)
        << message;

    std::vector<ReadResult> got = children(&context->hostTop);
    std::vector<std::u16string> names;
    for (const ReadResult& child : got) names.push_back(child.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".a.tandrix-0a1b2c", u".c.tandrix-0A1B2C",
                                                  u"b.tandrix-0A1B2C", u"photo.jpg"}));
}

#ifndef _WIN32
TEST_F(HostFsTest, PosixReadSkipsSpecialEntriesAndUnnamableNames) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    writeFile(u"file", "12345");
    fs::create_directory(dir / "sub");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(dir / "nowhere", dir / "broken");
    fs::create_symlink(dir / "sub", dir / "linkdir");
    fs::create_symlink(dir / "file", dir / "linkfile");
    writeFile(u"zz", "");
    fs::rename(dir / "zz", dir / std::string("bad\xFF\x1B[0m"));

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(message,
              "Skipped \"" + narrow(base) + "/bad\\xFF\\x1B[0m\": the name is not valid Unicode\n");

    std::vector<ReadResult> got = children(&context->hostTop);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].name, u"file");
    EXPECT_EQ(got[1].name, u"linkdir");
    EXPECT_EQ(got[1].mode, kModeDirectory);
    EXPECT_EQ(got[2].name, u"linkfile");
    EXPECT_EQ(got[2].mode, kModeFile);
    EXPECT_EQ(got[2].size, 5u);
    EXPECT_EQ(got[3].name, u"sub");
}

TEST_F(HostFsTest, PosixNamesOutsideTheBasicPlaneRoundTrip) {
    std::u16string base = path();
    std::copy(base.begin(), base.end(), context->hostRoot);
    fs::create_directory(dir / "\xF0\x9F\x98\x80");  // U+1F600
    ASSERT_TRUE(readHostDirectory(&context->heap, context->hostRoot, &context->hostTop,
                                  &context->hostWalk));
    ASSERT_NE(context->hostTop.firstChild, nullptr);
    EXPECT_EQ(std::u16string(context->hostTop.firstChild->name), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_TRUE(statHostNode(context->hostRoot, context->hostTop.firstChild));
    // A lone surrogate has no file name on POSIX: nothing is created under a mangled one.
    std::u16string lone = path(std::u16string{u'x', 0xD800});
    EXPECT_FALSE(osCreateDirectory(lone.c_str()));
    EXPECT_EQ(osCreateWrite(lone.c_str()), kNoFile);
}
#endif

}  // namespace
