// CFile: reading a file through the device's file services.
#include "platform/framework/afxwin.h"

CFile::~CFile() {
    Close();
}

BOOL CFile::Open(LPCWSTR lpszFileName, UINT) {
    Close();
    m_hFile = CreateFileW(lpszFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL_OPEN, nullptr);
    return m_hFile != INVALID_HANDLE_VALUE ? TRUE : FALSE;
}

DWORD CFile::GetLength() const {
    if (m_hFile == INVALID_HANDLE_VALUE) return 0;
    const DWORD size = GetFileSize(m_hFile, nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

LONG CFile::Seek(LONG lOff, UINT nFrom) {
    if (m_hFile == INVALID_HANDLE_VALUE) return -1;
    const DWORD pos = SetFilePointer(m_hFile, lOff, nullptr, nFrom);
    return pos == INVALID_SET_FILE_POINTER ? -1 : static_cast<LONG>(pos);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    DWORD got = 0;
    if (m_hFile == INVALID_HANDLE_VALUE || !ReadFile(m_hFile, lpBuf, nCount, &got, nullptr))
        return 0;
    return got;
}

void CFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}
