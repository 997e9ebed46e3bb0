// Where device paths land on the host: mapping, confinement and case-insensitive lookup.
#include <string>

#include "kernel_fixture.h"

using namespace wce::kernel;

TEST_F(KernelTest, NamespaceMapsRootAndMediumAndStaysInside) {
    Write(root() + "/ROMDisk/x.txt", "r");
    Write(medium() + "/SETUP.INI", "m");
    Write(top() + "/secret.txt", "outside");
    struct Row {
        std::u16string path;
        std::string host;  // empty: must not resolve to an existing host file
    } rows[] = {
        {u"\\ROMDisk\\x.txt", root() + "/ROMDisk/x.txt"},
        {u"\\Storage Card\\SETUP.INI", medium() + "/SETUP.INI"},
        {u"\\storage card\\setup.ini", medium() + "/SETUP.INI"},
        {u"\\..\\secret.txt", ""},
        {u"\\Storage Card\\..\\..\\secret.txt", ""},
        {u"\\ROMDisk\\..\\..\\..\\root\\ROMDisk\\x.txt", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path.begin(), r.path.end()));
        auto host = HostPathOf(r.path);
        if (r.host.empty()) {
            EXPECT_TRUE(!host || !fs::exists(*host) || fs::canonical(*host).string().rfind(top() + "/root", 0) == 0);
            EXPECT_EQ(GetFileAttributesW(r.path.c_str()), INVALID_FILE_ATTRIBUTES);
        } else {
            ASSERT_TRUE(host);
            EXPECT_EQ(*host, r.host);
        }
    }
}

TEST_F(KernelTest, NamespaceLinksLeadingOutAreRefusedLinksInsideFollowed) {
    Write(top() + "/outside/secret.txt", "secret");
    Write(root() + "/inside/real.txt", "real");
    fs::create_directory_symlink(top() + "/outside", root() + "/escape");
    fs::create_symlink(top() + "/outside/secret.txt", root() + "/leak.txt");
    fs::create_symlink("../../outside/secret.txt", root() + "/inside/rel.txt");
    fs::create_directory_symlink(root() + "/inside", medium() + "/pkg");
    fs::create_symlink("real.txt", root() + "/inside/alias.txt");
    struct Row {
        const char16_t* path;
        bool readable;
    } rows[] = {
        {u"\\escape\\secret.txt", false},
        {u"\\leak.txt", false},
        {u"\\inside\\rel.txt", false},
        {u"\\Storage Card\\pkg\\real.txt", true},
        {u"\\inside\\alias.txt", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path, r.path + std::char_traits<char16_t>::length(r.path)));
        HANDLE h = CreateFileW(r.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.readable);
        if (h != INVALID_HANDLE_VALUE) {
            char buf[8] = {};
            DWORD n = 0;
            EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
            EXPECT_EQ(std::string(buf, n), "real");
            CloseHandle(h);
        }
        EXPECT_FALSE(CopyFileW(r.path, u"\\copy.txt", FALSE) && !r.readable);
    }
    EXPECT_FALSE(fs::exists(root() + "/copy.txt") && Read(root() + "/copy.txt") == "secret");
    // Enumeration does not show entries that lead out.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::u16string seen;
    do seen += std::u16string(fd.cFileName) + u";";
    while (FindNextFileW(h, &fd));
    FindClose(h);
    EXPECT_EQ(seen, u"copy.txt;inside;") ;
}

TEST_F(KernelTest, NamespaceLookupIgnoresCaseButPrefersExactName) {
    Write(root() + "/romdisk2/program/setapp/a.txt", "lower");
    Write(root() + "/Mixed/File.TXT", "upper");
    Write(root() + "/Mixed/file.txt", "lower");
    struct Row {
        const char16_t* path;
        const char* content;
    } rows[] = {
        {u"\\ROMDisk2\\PROGRAM\\SETAPP\\A.TXT", "lower"},
        {u"\\MIXED\\File.TXT", "upper"},
        {u"\\mixed\\file.txt", "lower"},
        {u"\\MIXED\\FILE.TXT", "upper"},  // no exact match: the byte-order first of the two
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.content);
        auto host = HostPathOf(r.path);
        ASSERT_TRUE(host);
        EXPECT_EQ(Read(*host), r.content);
    }
    // Copying onto a name that differs only in case replaces it instead of adding a second file.
    Write(medium() + "/README.TXT", "new");
    Write(root() + "/romdisk2/program/setapp/readme.txt", "old");
    AfterClockTick();
    EXPECT_TRUE(GetFileAttributesW(u"\\ROMDisk2\\PROGRAM\\SETAPP\\README.TXT") != INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(CopyFileW(u"\\Storage Card\\README.TXT", u"\\ROMDisk2\\PROGRAM\\SETAPP\\README.TXT", FALSE));
    EXPECT_EQ(Read(root() + "/romdisk2/program/setapp/readme.txt"), "new");
    EXPECT_EQ(CountEntries(root() + "/romdisk2/program/setapp"), 2);
}

TEST_F(KernelTest, NamespaceSeesChangesMadeBehindItsBack) {
    fs::create_directories(root() + "/d");
    EXPECT_EQ(GetFileAttributesW(u"\\D\\NEW.TXT"), INVALID_FILE_ATTRIBUTES);
    Write(root() + "/d/new.txt", "x");
    AfterClockTick();
    EXPECT_EQ(GetFileAttributesW(u"\\D\\NEW.TXT"), FILE_ATTRIBUTE_NORMAL);
    // A cached folder replaced by one spelt differently is found again.
    fs::remove_all(root() + "/d");
    Write(root() + "/D/new.txt", "x");
    AfterClockTick();
    EXPECT_EQ(GetFileAttributesW(u"\\d\\new.txt"), FILE_ATTRIBUTE_NORMAL);
    fs::remove(root() + "/D/new.txt");
    EXPECT_EQ(GetFileAttributesW(u"\\d\\new.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(KernelTest, NamespaceRejectsLongAndMalformedPaths) {
    std::u16string longName(300, u'a');
    std::u16string longPath = u"\\d\\" + std::u16string(257, u'b');
    struct Row {
        std::u16string path;
        DWORD err;
    } rows[] = {
        {u"\\" + longName, ERROR_FILENAME_EXCED_RANGE},
        {longPath, ERROR_FILENAME_EXCED_RANGE},
        {u"\\missing\\x.txt", ERROR_PATH_NOT_FOUND},
        {u"\\x.txt", ERROR_FILE_NOT_FOUND},
        {u"relative.txt", ERROR_INVALID_NAME},
        {u"\\a/b", ERROR_INVALID_NAME},
        {u"\\a:b", ERROR_INVALID_NAME},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path.begin(), r.path.end()).substr(0, 30));
        EXPECT_EQ(GetFileAttributesW(r.path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), r.err);
    }
}

TEST_F(KernelTest, NamespaceNamesRoundTripThroughEnumerationAndCopy) {
    const std::string hostNames[] = {"bad\xFF.txt", "q?s:t*.txt", "\xF0\x9F\x98\x80.txt",
                                     "\xE6\x97\xA5\xE6\x9C\xAC"};
    for (const auto& n : hostNames) Write(medium() + "/src/" + n, n);
    fs::create_directories(root() + "/dst");
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(u"\\Storage Card\\src\\*.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int count = 0;
    do {
        ++count;
        std::u16string name = fd.cFileName;
        SCOPED_TRACE(count);
        EXPECT_TRUE(CopyFileW((u"\\Storage Card\\src\\" + name).c_str(), (u"\\dst\\" + name).c_str(), FALSE));
        if (name[0] >= 0xD800 && name[0] <= 0xDBFF) {
            EXPECT_EQ(name.size(), 6u);  // 2 units + .txt
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    EXPECT_EQ(count, 4);
    for (const auto& n : hostNames) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Read(root() + "/dst/" + n), n);
    }
}
