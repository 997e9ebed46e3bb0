// Enumeration by pattern and by exact path.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/support/scratch_device.h"

using namespace wce::kernel;

namespace {

// Names delivered for a pattern, "!" + last error when the enumeration cannot start.
std::vector<std::u16string> Names(const std::u16string& pattern,
                                  std::vector<DWORD>* words = nullptr) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return {u"!" + std::u16string(1, static_cast<char16_t>(u'0' + GetLastError()))};
    std::vector<std::u16string> out;
    do {
        out.emplace_back(fd.cFileName);
        if (words) words->push_back(fd.dwFileAttributes);
    } while (FindNextFileW(h, &fd));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return out;
}

std::u16string Err(DWORD e) {
    return u"!" + std::u16string(1, static_cast<char16_t>(u'0' + e));
}

}  // namespace

TEST_F(KernelTest, EnumerationByPatternAndExactPath) {
    fs::create_directories(root() + "/empty");
    Write(root() + "/tree/b.txt", "x");
    Write(root() + "/tree/A.txt", "x");
    Write(root() + "/tree/.profile", "x");
    Write(root() + "/tree/c.dat", "x");
    Write(root() + "/tree/sub/x", "x");
    Write(root() + "/file.txt", "x");
    using V = std::vector<std::u16string>;
    struct Row {
        std::u16string pattern;
        V names;
    } rows[] = {
        {u"\\tree\\*.*", {u".profile", u"A.txt", u"b.txt", u"c.dat", u"sub"}},  // byte order
        {u"\\TREE\\*.TXT", {u"A.txt", u"b.txt"}},
        {u"\\tree\\?.dat", {u"c.dat"}},
        {u"\\tree\\*.none", {Err(ERROR_FILE_NOT_FOUND)}},
        {u"\\tree\\b.txt", {u"b.txt"}},
        {u"\\tree\\B.TXT", {u"b.txt"}},  // the name as the host spells it
        {u"\\tree\\sub", {u"sub"}},      // a folder by exact path
        {u"\\empty\\*.*", {Err(ERROR_FILE_NOT_FOUND)}},
        {u"\\missing\\*.*", {Err(ERROR_PATH_NOT_FOUND)}},
        {u"\\file.txt\\*.*", {Err(ERROR_PATH_NOT_FOUND)}},
        {u"\\tree\\nothing", {Err(ERROR_FILE_NOT_FOUND)}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.pattern.begin(), r.pattern.end()));
        EXPECT_EQ(Names(r.pattern), r.names);
    }
}

TEST_F(KernelTest, EnumerationDeliversTheAttributeWord) {
    Write(root() + "/d/plain", "x");
    Write(root() + "/d/hid", "x");
    Write(root() + "/d/sub/x", "x");
    SetDosAttrib(root() + "/d/hid", "0x2");
    SetDosAttrib(root() + "/d/sub", "0x2");
    chmod((root() + "/d/plain").c_str(), 0444);
    std::vector<DWORD> words;
    EXPECT_EQ(Names(u"\\d\\*.*", &words), (std::vector<std::u16string>{u"hid", u"plain", u"sub"}));
    EXPECT_EQ(words, (std::vector<DWORD>{FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_READONLY,
                                         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN}));
}

TEST_F(KernelTest, EnumerationHandlesAreCountedAndValidated) {
    Write(root() + "/d/a", "x");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\d\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenHandleCount(), 1);
    EXPECT_FALSE(FindNextFileW(h, &fd));
    EXPECT_TRUE(FindClose(h));
    EXPECT_EQ(OpenHandleCount(), 0);
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindNextFileW(INVALID_HANDLE_VALUE, &fd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // A failing folder read starts no enumeration and leaks nothing.
    FaultScope faults;
    faults.Fail(HostOp::ReadDir, 1, EIO);
    EXPECT_EQ(FindFirstFileW(u"\\d\\*.*", &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenHandleCount(), 0);
}

TEST_F(KernelTest, EnumerationSkipsEntriesThatVanishAfterListing) {
    Write(root() + "/d/a", "x");
    Write(root() + "/d/b", "x");
    Write(root() + "/d/c", "x");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\d\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    fs::remove(root() + "/d/b");
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(FindNextFileW(h, &fd));
    EXPECT_EQ(std::u16string(fd.cFileName), u"c");
    FindClose(h);
}

// Lookups in a folder an enumeration holds open go through that open folder; once closed, the
// path is what counts again, whatever now stands there.
TEST_F(KernelTest, EnumerationOpenFolderServesLookupsOnlyWhileOpen) {
    for (const char* d : {"d", "e", "f"}) Write(root() + "/" + d + "/b", "x");
    SetDosAttrib(root() + "/d/b", "0x2");
    WIN32_FIND_DATAW fd;
    HANDLE hd = FindFirstFileW(u"\\d\\*.*", &fd);
    HANDLE he = FindFirstFileW(u"\\e\\*.*", &fd);
    ASSERT_NE(hd, INVALID_HANDLE_VALUE);
    ASSERT_NE(he, INVALID_HANDLE_VALUE);
    // What the enumeration has just read may answer for a short while; another process's change
    // is seen after that.
    SetDosAttrib(root() + "/e/b", "0x2");
    Advance(kSeenWithin);
    EXPECT_EQ(GetFileAttributesW(u"\\e\\b"), FILE_ATTRIBUTE_HIDDEN);
    fs::remove(root() + "/e/b");
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\e\\b"), INVALID_FILE_ATTRIBUTES);
    // Closed out of order, then a new enumeration likely reuses the first one's descriptor.
    FindClose(hd);
    HANDLE hf = FindFirstFileW(u"\\f\\*.*", &fd);
    ASSERT_NE(hf, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(u"\\f\\b"), FILE_ATTRIBUTE_NORMAL);
    FindClose(he);
    FindClose(hf);
    fs::rename(root() + "/d", root() + "/old");
    Write(root() + "/d/b", "x");
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), FILE_ATTRIBUTE_NORMAL);
    // Changes act on the folder the reads see, even once its path names another.
    HANDLE hg = FindFirstFileW(u"\\d\\*.*", &fd);
    ASSERT_NE(hg, INVALID_HANDLE_VALUE);
    fs::rename(root() + "/d", root() + "/listed");
    Write(root() + "/d/b", "x");
    EXPECT_TRUE(SetFileAttributesW(u"\\d\\b", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(CreateDirectoryW(u"\\d\\sub", nullptr));
    FindClose(hg);
    EXPECT_TRUE(fs::exists(root() + "/listed/sub"));
    EXPECT_FALSE(fs::exists(root() + "/d/sub"));
    Advance(kNextTick);
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), FILE_ATTRIBUTE_NORMAL);
}

// A large folder's entries, each with its word; links inside followed, links out delivered as
// plain files (whose copy then fails) rather than left out unnoticed.
TEST_F(KernelTest, EnumerationOfLargeFoldersMatchesEntryByEntry) {
    std::vector<std::u16string> expected;
    std::vector<DWORD> expectedWords;
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        Write(root() + "/big/" + name, "x");
        DWORD word = FILE_ATTRIBUTE_NORMAL;
        if (i % 7 == 0) {
            SetDosAttrib(root() + "/big/" + name, "0x2");
            word = FILE_ATTRIBUTE_HIDDEN;
        }
        if (i % 11 == 0) {
            chmod((root() + "/big/" + name).c_str(), 0444);
            word = (word & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
        }
        if (i == 150) {
            fs::create_directory(root() + "/big/f150.d");
        }
        expected.emplace_back(name, name + std::strlen(name));
        expectedWords.push_back(word);
    }
    fs::create_symlink("f001", root() + "/big/link");
    fs::create_symlink("/", root() + "/big/out");  // leads out: never followed
    expected.insert(expected.begin() + 151, u"f150.d");
    expectedWords.insert(expectedWords.begin() + 151, FILE_ATTRIBUTE_DIRECTORY);
    expected.push_back(u"link");
    expectedWords.push_back(FILE_ATTRIBUTE_NORMAL);
    expected.push_back(u"out");
    expectedWords.push_back(FILE_ATTRIBUTE_NORMAL);
    std::vector<DWORD> words;
    EXPECT_EQ(Names(u"\\big\\*.*", &words), expected);
    EXPECT_EQ(words, expectedWords);
    // An entry is described as it is when it is delivered, not when the enumeration began.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\big\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    chmod((root() + "/big/f299").c_str(), 0444);
    while (std::u16string(fd.cFileName) != u"f299") ASSERT_TRUE(FindNextFileW(h, &fd));
    EXPECT_EQ(fd.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    FindClose(h);
    chmod((root() + "/big/f299").c_str(), 0644);
    // The third status read fails, and that entry is still delivered (a plain file), never left
    // out unnoticed.
    FaultScope faults;
    faults.Fail(HostOp::Stat, 3, EIO);
    words.clear();
    std::vector<std::u16string> names = Names(u"\\big\\*.*", &words);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(words[2], FILE_ATTRIBUTE_NORMAL);
}

namespace {

// Every entry below a device folder, depth first as a walk takes them: "path" per entry, with
// the folder's contents right after it. between runs after each folder is entered.
void Walk(const std::u16string& dir, std::vector<std::u16string>& out,
          const std::function<void(const std::u16string&)>& between) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + u"\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    between(dir);
    do {
        const std::u16string path = dir + u"\\" + fd.cFileName;
        out.push_back(path);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(path, out, between);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

}  // namespace

// The next folder of a walk may be listed before the walk gets there; what the walk is given is
// still the folder as it stands when the walk enters it.
TEST_F(KernelTest, EnumerationOfATreeGivesEachFolderAsItIsWhenEntered) {
    std::vector<std::u16string> expected;
    for (int d = 0; d < 40; ++d) {
        char dir[8];
        std::snprintf(dir, sizeof dir, "s%02d", d);
        expected.push_back(u"\\t\\" + std::u16string(dir, dir + 3));
        for (int f = 0; f < 20; ++f) {
            const std::string name = "f" + std::to_string(10 + f);
            Write(root() + "/t/" + dir + "/" + name, "x");
            expected.push_back(expected.back().substr(0, 6) + u"\\" +
                               std::u16string(name.begin(), name.end()));
        }
    }
    // Folders changed in an earlier clock tick than the one they are looked at in.
    Advance(2 * kNextTick);
    std::vector<std::u16string> seen;
    Walk(u"\\t", seen, [](const std::u16string&) {});
    EXPECT_EQ(seen, expected);
    // Changed behind the walk's back while it is in the folder before.
    seen.clear();
    Walk(u"\\t", seen, [&](const std::u16string& dir) {
        if (dir == u"\\t\\s10") {
            Write(root() + "/t/s11/f00", "x");
            fs::remove(root() + "/t/s12/f10");
        }
    });
    EXPECT_NE(std::find(seen.begin(), seen.end(), u"\\t\\s11\\f00"), seen.end());
    EXPECT_EQ(std::find(seen.begin(), seen.end(), u"\\t\\s12\\f10"), seen.end());
    EXPECT_EQ(seen.size(), expected.size());
}
