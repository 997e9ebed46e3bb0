// Enumeration by pattern and by exact path.
#include <vector>

#include "kernel_fixture.h"

using namespace wce::kernel;

namespace {

// Names delivered for a pattern, "!" + last error when the enumeration cannot start.
std::vector<std::u16string> Names(const std::u16string& pattern, std::vector<DWORD>* words = nullptr) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {u"!" + std::u16string(1, static_cast<char16_t>(u'0' + GetLastError()))};
    std::vector<std::u16string> out;
    do {
        out.emplace_back(fd.cFileName);
        if (words) words->push_back(fd.dwFileAttributes);
    } while (FindNextFileW(h, &fd));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return out;
}

std::u16string Err(DWORD e) { return u"!" + std::u16string(1, static_cast<char16_t>(u'0' + e)); }

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
        {u"\\tree\\B.TXT", {u"b.txt"}},               // the name as the host spells it
        {u"\\tree\\sub", {u"sub"}},                   // a folder by exact path
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
    // Read afresh, never from what the enumeration saw.
    SetDosAttrib(root() + "/e/b", "0x2");
    EXPECT_EQ(GetFileAttributesW(u"\\e\\b"), FILE_ATTRIBUTE_HIDDEN);
    fs::remove(root() + "/e/b");
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
    EXPECT_EQ(GetFileAttributesW(u"\\d\\b"), FILE_ATTRIBUTE_NORMAL);
}
