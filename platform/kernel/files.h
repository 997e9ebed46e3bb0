// Files, folders and enumeration by absolute device path ("\ROMDisk\x.txt"; see namespace.h).
// Every failing call sets GetLastError() (errors.cpp maps errno).
#pragma once

#include "platform/kernel/wintypes.h"

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[MAX_PATH];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

// FindFirstFileW lists a pattern ("dir\*.*", wildcards in the last part) or one path, sorted by
// host name bytes, never "." or "..". INVALID_HANDLE_VALUE (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE, ...) for an empty, missing or non-folder.
HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
// FALSE with ERROR_NO_MORE_FILES at the end.
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// INVALID_FILE_ATTRIBUTES (all bits set) on failure.
DWORD GetFileAttributesW(LPCWSTR lpFileName);
// FILE_ATTRIBUTE_NORMAL clears the rest; a link is left alone, a many-named file gets its own copy.
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);

// Copies data, hidden / read-only and last-write time; ERROR_ACCESS_DENIED for a hidden or
// read-only target. A link is replaced, not written through; a failure leaves the old target only.
// With read-back (FlushVolumeW), a same-size target the card shows equal is kept, not rewritten.
BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
// Fails with ERROR_PATH_NOT_FOUND without its parent, ERROR_ALREADY_EXISTS when taken.
BOOL CreateDirectoryW(LPCWSTR lpPathName, void* lpSecurityAttributes);

// FlushVolumeW syncfs-es each filesystem written (beneath FUSE, fsyncs the driver's medium), then
// reads copies back past caches. FALSE with the flush's error (EIO: ERROR_GEN_FAILURE, ...),
// ERROR_CRC for a file that reads back different, or the read's; the listener hears the path.
BOOL FlushVolumeW(LPCWSTR lpPathName);

// ClaimFolderW: an exclusive lock on the device root until CloseHandle, one install at a time;
// ERROR_LOCK_VIOLATION while another holds it; unlocked success on ENOLCK / EOPNOTSUPP hosts.
HANDLE ClaimFolderW(LPCWSTR lpPathName);

// Reading files.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL_OPEN = 0x80;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

// OPEN_EXISTING only, GENERIC_READ or access 0 (a folder: 0 with FILE_FLAG_BACKUP_SEMANTICS);
// links are followed as elsewhere. INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   void* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                     DWORD dwMoveMethod);
// A short count at the end of the file is success.
BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              void* lpOverlapped);
BOOL CloseHandle(HANDLE hObject);

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
    DWORD dwOID;
};
// Attributes, times, size, identity (volume serial + file index name one entry); FALSE on failure.
BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation);

// The running exe's device path ("\Storage Card\SETUP.exe") and its length; when nSize is too
// small, 0 or a truncated copy with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

namespace wce::kernel {
// Enumerations and files currently open; tests assert that walks leave none behind.
int OpenHandleCount();
}  // namespace wce::kernel

// Free space. GetDiskFreeSpaceExW as the device has it: bytes free to the caller, total bytes and
// total free bytes of the filesystem holding a folder (any may be null); FALSE with
// ERROR_PATH_NOT_FOUND for a folder that does not resolve. GetDiskFreeSpaceW gives its geometry
// (a cluster is sectors per cluster x bytes per sector), the cluster counts capped at 0xFFFFFFFF.
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    unsigned long long QuadPart;
};
BOOL GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, ULARGE_INTEGER* lpFreeBytesAvailableToCaller,
                         ULARGE_INTEGER* lpTotalNumberOfBytes,
                         ULARGE_INTEGER* lpTotalNumberOfFreeBytes);
BOOL GetDiskFreeSpaceW(LPCWSTR lpRootPathName, DWORD* lpSectorsPerCluster, DWORD* lpBytesPerSector,
                       DWORD* lpNumberOfFreeClusters, DWORD* lpTotalNumberOfClusters);

// Reads past the host's caches: the file's cached pages (and the layers' beneath) are dropped
// before it is read.
inline constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
