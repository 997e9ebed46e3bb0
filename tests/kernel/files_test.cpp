// Deleting, creating folders, reading files, flushing, and the executable's path.
#include <cstring>

#include "tests/support/scratch_device.h"

using namespace wce::kernel;

TEST_F(KernelTest, FilesDeleteAndCreateDirectory) {
    Write(root() + "/plain.txt", "x");
    Write(root() + "/ro.txt", "x");
    Write(root() + "/hidden.txt", "x");
    Write(root() + "/dir/x", "x");
    chmod((root() + "/ro.txt").c_str(), 0444);
    SetDosAttrib(root() + "/hidden.txt", "0x2");
    struct Row {
        BOOL (*op)(LPCWSTR);
        const char16_t* path;
        BOOL ok;
        DWORD err;
    } rows[] = {
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\new", TRUE, 0},
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\NEW", FALSE,
         ERROR_ALREADY_EXISTS},
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\dir\\x", FALSE,
         ERROR_ALREADY_EXISTS},
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\a\\b", FALSE,
         ERROR_PATH_NOT_FOUND},
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\ro.txt\\b", FALSE,
         ERROR_PATH_NOT_FOUND},
        {[](LPCWSTR p) { return CreateDirectoryW(p, nullptr); }, u"\\new\\sub", TRUE, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.path, r.path + std::char_traits<char16_t>::length(r.path)));
        EXPECT_EQ(r.op(r.path), r.ok);
        if (!r.ok) {
            EXPECT_EQ(GetLastError(), r.err);
        }
    }
    EXPECT_TRUE(fs::is_directory(root() + "/new/sub"));
    FaultScope faults;
    faults.Fail(HostOp::Mkdir, 1, EROFS);
    EXPECT_FALSE(CreateDirectoryW(u"\\other", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_WRITE_PROTECT);
}

TEST_F(KernelTest, FilesReadWithSeekAndShortCountAtEnd) {
    Write(medium() + "/SETUP.INI", "0123456789");
    HANDLE h = CreateFileW(u"\\Storage Card\\setup.ini", GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL_OPEN, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    struct Row {
        LONG seek;
        DWORD want;
        const char* got;
    } rows[] = {{0, 4, "0123"}, {8, 4, "89"}, {10, 4, ""}, {3, 2, "34"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.seek);
        EXPECT_EQ(SetFilePointer(h, r.seek, nullptr, FILE_BEGIN), static_cast<DWORD>(r.seek));
        char buf[8] = {};
        DWORD n = 99;
        EXPECT_TRUE(ReadFile(h, buf, r.want, &n, nullptr));
        EXPECT_EQ(std::string(buf, n), r.got);
    }
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    {
        FaultScope faults;
        faults.Fail(HostOp::Read, 1, EIO);
        char buf[4];
        DWORD n = 0;
        EXPECT_FALSE(ReadFile(h, buf, 4, &n, nullptr));
        EXPECT_EQ(n, 0u);
    }
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    struct Bad {
        const char16_t* path;
        DWORD access, disposition, err;
    } bad[] = {
        {u"\\Storage Card\\none.ini", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {u"\\Storage Card", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {u"\\Storage Card\\SETUP.INI", 0x40000000, OPEN_EXISTING, ERROR_INVALID_PARAMETER},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.err);
        EXPECT_EQ(CreateFileW(b.path, b.access, 0, nullptr, b.disposition, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), b.err);
    }
}

TEST_F(KernelTest, FilesFlushReportsWriteBackErrors) {
    Write(root() + "/ROMDisk/x", "x");
    EXPECT_TRUE(FlushVolumeW(u"\\ROMDisk"));
    FaultScope faults;
    faults.Fail(HostOp::SyncFs, 1, EIO);
    EXPECT_FALSE(FlushVolumeW(u"\\ROMDisk"));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(FaultsFired(HostOp::SyncFs), 1);
    EXPECT_FALSE(FlushVolumeW(u"\\missing"));
}

TEST_F(KernelTest, FilesModuleNameIsTheMediumPath) {
    WCHAR buf[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), 23u);
    EXPECT_EQ(std::u16string(buf), u"\\Storage Card\\SETUP.exe");
    WCHAR small[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(small), u"\\Storag");
}

TEST_F(KernelTest, FilesIdentityIsTheSameWhateverPathReachesIt) {
    Write(root() + "/d/a.txt", "abc");
    ASSERT_EQ(symlink("a.txt", (root() + "/d/link.txt").c_str()), 0);
    auto identity = [](const char16_t* path, DWORD flags) {
        HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return known ? std::to_string(info.dwVolumeSerialNumber) + ":" +
                           std::to_string(info.nFileIndexLow) + " " +
                           std::to_string(info.nFileSizeLow) + " " +
                           std::to_string(info.dwFileAttributes)
                     : std::string("none");
    };
    EXPECT_EQ(identity(u"\\D\\A.TXT", 0), identity(u"\\d\\link.txt", 0));
    EXPECT_NE(identity(u"\\d\\a.txt", 0), identity(u"\\d", FILE_FLAG_BACKUP_SEMANTICS));
    EXPECT_NE(identity(u"\\d\\a.txt", 0).find(" 3 128"), std::string::npos);
    // A folder opens only for asking about it, and only when the caller says it means a folder.
    EXPECT_EQ(identity(u"\\d", 0), "none");
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(identity(u"\\d\\missing.txt", 0), "none");
    // A pipe in the tree opens for reading without waiting for a writer that never comes.
    ASSERT_EQ(mkfifo((root() + "/d/pipe").c_str(), 0644), 0);
    HANDLE pipe = CreateFileW(u"\\d\\pipe", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    CloseHandle(pipe);
}
