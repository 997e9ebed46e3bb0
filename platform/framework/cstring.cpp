// CString's buffer access.
#include <algorithm>

#include "platform/framework/afxwin.h"

LPWSTR CString::GetBuffer(int nMinLength) {
    if (nMinLength > GetLength()) m_str.resize(static_cast<size_t>(nMinLength));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        m_str.resize(std::char_traits<char16_t>::length(m_str.c_str()));
    } else {
        m_str.resize(std::min(static_cast<size_t>(nNewLength), m_str.size()));
    }
}
