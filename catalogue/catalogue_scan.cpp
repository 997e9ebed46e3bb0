// Window scanning of the catalogue reader.
#include "catalogue/catalogue_scan.h"

#include <algorithm>

#include "platform/kernel/codepage.h"

namespace catalogue {

namespace {
constexpr BYTE kCR = 0x0D;
constexpr BYTE kLF = 0x0A;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
}  // namespace

std::optional<LineEnd> FindLineEnd(const BYTE* window, int size)
{
    bool prevCR = false;
    for (int i = 0; i < size; ++i) {
        if (window[i] == kLF && prevCR)
            return LineEnd{i - 1, i + 1};
        prevCR = window[i] == kCR;
    }
    if (size > 0 && window[size - 1] == kCR)
        return LineEnd{size - 1, size + 1};
    return std::nullopt;
}

void ScanCatalogue(LONG length, const ReadAt& readAt, const OnPackage& onPackage)
{
    BYTE szLine[kWindowBytes];
    WCHAR wszLine[kWindowBytes];
    bool inSection = false;
    LONG pos = 0;
    while (pos < length) {
        const UINT want = static_cast<UINT>(std::min<LONG>(length - pos, kWindowBytes));
        // The file may have shrunk since its length was taken: scan only what arrived.
        const UINT got = std::min(readAt(pos, szLine, want), want);
        if (got == 0)
            return;
        const int chunk = static_cast<int>(got);
        const std::optional<LineEnd> end = FindLineEnd(szLine, chunk);
        if (!end)
            return;
        szLine[end->textBytes] = 0;
        wszLine[0] = 0;
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(szLine), -1, wszLine, chunk);
        wszLine[chunk - 1] = 0;  // a conversion that did not fit leaves its text unterminated
        const std::u16string_view line(wszLine);
        if (!line.empty() && line.front() == u'[') {
            inSection = line == u"[PRODUCT]";
        } else if (const auto eq = line.find(u'='); inSection && eq != line.npos) {
            if (!onPackage(line.substr(0, eq), line.substr(eq + 1)))
                return;
        }
        pos += end->advance;
    }
}

std::size_t FittedNameLength(std::u16string_view name, std::size_t maxUnits)
{
    if (name.size() <= maxUnits)
        return name.size();
    return maxUnits > 0 && IsHighSurrogate(name[maxUnits - 1]) ? maxUnits - 1 : maxUnits;
}

}  // namespace catalogue
