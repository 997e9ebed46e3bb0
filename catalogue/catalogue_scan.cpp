// Window scanning of the catalogue reader.
#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <cstdio>

#include "platform/kernel/codepage.h"
#include "platform/kernel/utf8.h"

namespace catalogue {

namespace {
constexpr BYTE kCR = 0x0D;
constexpr BYTE kLF = 0x0A;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// A key as text for standard error: UTF-8, control characters spelt out so they cannot act.
std::string Quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsControl(c)) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += {'<', '0', 'x', kHex[c >> 4], kHex[c & 15], '>'};
        } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            wce::kernel::AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00), out);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            wce::kernel::AppendUtf8(0xFFFD, out);
        } else {
            wce::kernel::AppendUtf8(c, out);
        }
    }
    return out + "\"";
}

std::string LineRef(int line) { return "SETUP.INI:" + std::to_string(line) + ": "; }

}  // namespace

const char* KeyProblem(std::u16string_view key)
{
    if (key.find(u'\\') != key.npos || key.find(u'/') != key.npos)
        return "holds a path separator";
    if (key.find(u"..") != key.npos)
        return "holds \"..\"";
    if (key.find_first_of(u"*?") != key.npos)
        return "holds a wildcard";
    if (std::any_of(key.begin(), key.end(), IsControl))
        return "holds a control character";
    return nullptr;
}

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

ScanReport ScanCatalogue(LONG length, const ReadAt& readAt, const OnPackage& onPackage)
{
    ScanReport report;
    BYTE szLine[kWindowBytes];
    WCHAR wszLine[kWindowBytes];
    bool inSection = false;
    LONG pos = 0;
    for (int lineNo = 1; pos < length; ++lineNo) {
        const UINT want = static_cast<UINT>(std::min<LONG>(length - pos, kWindowBytes));
        // The file may have shrunk since its length was taken: scan only what arrived.
        const UINT got = std::min(readAt(pos, szLine, want), want);
        if (got == 0)
            return report;
        const int chunk = static_cast<int>(got);
        const std::optional<LineEnd> end = FindLineEnd(szLine, chunk);
        if (!end)
            return report;
        szLine[end->textBytes] = 0;
        wszLine[0] = 0;
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(szLine), -1, wszLine, chunk);
        wszLine[chunk - 1] = 0;  // a conversion that did not fit leaves its text unterminated
        const std::u16string_view line(wszLine);
        if (!line.empty() && line.front() == u'[') {
            inSection = line == u"[PRODUCT]";
        } else if (const auto eq = line.find(u'='); inSection && eq != line.npos) {
            const std::u16string_view key = line.substr(0, eq);
            if (const char* problem = KeyProblem(key))
                report.warnings.push_back(LineRef(lineNo) + "key " + Quoted(key) + " " + problem +
                                          "; the entry is not listed");
            else if (!onPackage(key, line.substr(eq + 1)))
                return report;
        }
        pos += end->advance;
    }
    return report;
}

namespace {
NoteSink& Sink()
{
    static NoteSink sink;
    return sink;
}
}  // namespace

void SetNoteSink(NoteSink sink) { Sink() = std::move(sink); }

void Note(const std::string& line)
{
    if (Sink())
        Sink()(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::size_t FittedNameLength(std::u16string_view name, std::size_t maxUnits)
{
    if (name.size() <= maxUnits)
        return name.size();
    return maxUnits > 0 && IsHighSurrogate(name[maxUnits - 1]) ? maxUnits - 1 : maxUnits;
}

}  // namespace catalogue
