// Files, folders and enumeration in the device namespace.
// Paths are absolute device paths ("\ROMDisk\PROGRAM\TAV\x.txt"); see namespace.h for how they
// map onto host folders. Every failing call sets GetLastError() (errors.cpp maps errno).
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

// Starts an enumeration of a pattern ("dir\*.*" or another wildcard in the last component) or of
// one exact path. Returns INVALID_HANDLE_VALUE (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_FILENAME_EXCED_RANGE, ...) when there is no entry to give: an empty, missing or
// non-directory folder. "." and ".." are never delivered. Order: sorted by the bytes of the host
// names.
HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
// FALSE with ERROR_NO_MORE_FILES at the end.
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// INVALID_FILE_ATTRIBUTES (all bits set) on failure.
DWORD GetFileAttributesW(LPCWSTR lpFileName);
// FILE_ATTRIBUTE_NORMAL clears hidden, system and read-only. A symbolic link is left as it is
// (what it leads to is not changed through it), and a file with several names gets a copy of
// its own first, so no other name of it sees the change.
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);

// Fails with ERROR_ACCESS_DENIED on a read-only file, as the device does.
BOOL DeleteFileW(LPCWSTR lpFileName);
// The target gets the source's data and its hidden / read-only attributes. An existing hidden or
// read-only target is refused (ERROR_ACCESS_DENIED); a target that is a symbolic link is
// replaced by the copy, never written through. A failed copy leaves the old target (or no
// target) and no partial file behind. Where read-back applies (FlushVolumeW), a target of the
// source's size is first read from the card and compared: one already holding the source's bytes
// is kept, given the source's attributes and last-write time, and not written again.
// The last-write time comes with the file.
BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
// Fails with ERROR_PATH_NOT_FOUND without its parent, ERROR_ALREADY_EXISTS when taken.
BOOL CreateDirectoryW(LPCWSTR lpPathName, void* lpSecurityAttributes);

// Writes everything copied since the last flush out to its card and reads it back: every
// filesystem written (the path's own and any mounted below it) gets a syncfs and, beneath a FUSE
// filesystem, an fsync of the block device or image file its driver writes (a flush of every
// filesystem only where syncfs is refused or that layer cannot be reached). Then, where
// read-back applies, every file copied there is read again past the host's caches and compared
// with its source. FALSE with the flush's error (a write-back error the card met since its first
// write: ERROR_GEN_FAILURE for EIO, ERROR_DISK_FULL, ...), ERROR_CRC for a file that reads back
// different, or the read's error; the activity listener is told the path.
BOOL FlushVolumeW(LPCWSTR lpPathName);

// Claims the folder at this path (the device's root) for one install at a time: an exclusive
// lock, held until CloseHandle, that another process's claim meets at once. INVALID_HANDLE_VALUE
// with ERROR_LOCK_VIOLATION while another process holds it. Where the host keeps no locks
// (ENOLCK, EOPNOTSUPP), the claim succeeds without one.
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

// Only OPEN_EXISTING is supported, for reading (GENERIC_READ) or only for asking about the entry
// (access 0); a folder opens only for asking, and only with FILE_FLAG_BACKUP_SEMANTICS. Links are
// followed as by every other call. INVALID_HANDLE_VALUE on failure.
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
// The open entry's attributes, times, size, and its identity: volume serial number and file
// index together name one entry, whatever path reached it. FALSE with the last error set.
BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation);

// Full device path of the running executable ("\Storage Card\SETUP.exe"); returns its length,
// or 0 / a truncated copy with ERROR_INSUFFICIENT_BUFFER when nSize is too small.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

namespace wce::kernel {
// Enumerations and files currently open; tests assert that walks leave none behind.
int OpenHandleCount();
}  // namespace wce::kernel
