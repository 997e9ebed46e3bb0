// Window scanning of the catalogue reader.
#include "catalogue/catalogue_scan.h"

#include <algorithm>
#include <cstdio>

#include "platform/kernel/codepage.h"
#include "platform/kernel/ns/utf8.h"
#include "platform/user/text.h"

namespace catalogue {

namespace {
constexpr BYTE kCR = 0x0D;
constexpr BYTE kLF = 0x0A;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}
bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\x3000';
}

// A key or name as text for standard error: control characters spelt out so they cannot act.
std::string Quoted(std::u16string_view text) {
    return '"' + wce::user::Escaped(text, "\"") + '"';
}

std::string LineRef(int line) {
    return "SETUP.INI:" + std::to_string(line) + ": ";
}

}  // namespace

const char* KeyProblem(std::u16string_view key, std::size_t maxUnits) {
    // PRODUCT<key> is one name in the medium's folder; only a separator could lead out of it.
    if (key.find(u'\\') != key.npos || key.find(u'/') != key.npos) return "holds a path separator";
    // A key cut to fit would name another package's folder.
    if (key.size() > maxUnits) return "is longer than the key table holds";
    return nullptr;
}

const char* KeyCaution(std::u16string_view key) {
    if (std::any_of(key.begin(), key.end(), IsControl))
        return "holds a control character, which the device's names cannot hold";
    if (key.find_first_of(u"*?<>|:\"") != key.npos)
        return "holds one of * ? < > | : \", which the device's names cannot hold";
    return nullptr;
}

bool IsValidUtf8(std::string_view bytes) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = wce::kernel::DecodeUtf8(bytes, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::optional<LineEnd> FindLineEnd(const BYTE* window, int size) {
    bool prevCR = false;
    for (int i = 0; i < size; ++i) {
        if (window[i] == kLF && prevCR) return LineEnd{i - 1, i + 1};
        prevCR = window[i] == kCR;
    }
    if (size > 0 && window[size - 1] == kCR) return LineEnd{size - 1, size + 1};
    return std::nullopt;
}

namespace {

std::size_t Count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != text.npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A line that would be the product header but for case, blanks or bytes before it.
bool NearlyProductHeader(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return upper.find(u"[PRODUCT]") != upper.npos;
}

// What the reading learnt beside the packages, put into words when it ends.
class Reading {
  public:
    explicit Reading(bool empty) : m_empty(empty) {}

    void Line(int line, std::string_view bytes, std::u16string_view text) {
        CheckEncoding(line, bytes, text);
        if (text == u"[PRODUCT]") {
            if (m_sectionLine == 0) m_sectionLine = line;
        } else if (m_nearHeaderLine == 0 && NearlyProductHeader(text)) {
            m_nearHeaderLine = line;
        }
    }
    void Package(int line, std::u16string_view key, std::u16string_view name, const char* problem,
                 std::size_t maxNameUnits) {
        ++m_packageLines;
        if (problem != nullptr) {
            m_lastRefused =
                LineRef(line) + "key " + Quoted(key) + " " + problem + "; the entry is not listed";
            m_report.warnings.push_back(m_lastRefused);
            return;
        }
        ++m_listed;
        // The device lists these as they are; they are seldom what the catalogue's author meant.
        if (const char* caution = KeyCaution(key))
            Warn(line, "the key " + Quoted(key) + " " + caution +
                           ", so the entry names no folder and installs "
                           "nothing");
        if (!key.empty() && (IsBlank(key.front()) || IsBlank(key.back())))
            Warn(line, "the key " + Quoted(key) +
                           " begins or ends with a blank, which is part of the key: the "
                           "entry installs from " +
                           Quoted(u"PRODUCT" + std::u16string(key)));
        if (key.empty())
            Warn(line,
                 "the key is empty, so the entry installs from the folder \"PRODUCT\" itself");
        if (name.empty())
            Warn(line, "the name is empty, so the entry shows as a blank line of the list");
        if (name.size() > maxNameUnits)
            Warn(line, "the name " + Quoted(name) + " is longer than " +
                           std::to_string(maxNameUnits) + " characters; it is listed as " +
                           Quoted(name.substr(0, FittedNameLength(name, maxNameUnits))));
    }
    void NoEquals(int line) {
        Warn(line, "the line holds no \"=\", so it names no package and is left out");
    }
    void StrayLineFeed(int line, std::u16string_view text) {
        const std::u16string_view after = text.substr(text.find(u'\n') + 1);
        Warn(line,
             "a LF without CR before it does not end the line: " + Quoted(after.substr(0, 31)) +
                 " after it is read as part of this line, not as a line of its own");
    }
    void ListFull(int line) {
        m_stop = LineRef(line) + "the list is full: this entry and the lines after it are not read";
    }
    void NoLineEnd(int line, const BYTE* window, int size, bool lastLine) {
        const bool lfAlone = std::find(window, window + size, kLF) != window + size;
        if (lastLine && !lfAlone) {
            m_stop = LineRef(line) + "the last line does not end in CR LF, so it is not read";
            return;
        }
        m_stop = LineRef(line) +
                 (lfAlone ? "the line ends in LF alone where CR LF is needed"
                          : "no CR LF ends the line within 260 bytes") +
                 ", so the reading stops here";
    }
    void Unreadable(int line) {
        m_stop = LineRef(line) + "the file could not be read from here on";
    }

    ScanReport Finish() {
        if (!m_stop.empty() && m_listed > 0) m_report.warnings.push_back(m_stop);
        if (m_badLine > 0) {
            m_report.warnings.push_back(
                LineRef(m_badLine) + "bytes that are not text in code page " +
                std::to_string(GetACP()) + More(m_badLines) +
                (m_badAllUtf8 ? "; they read as UTF-8: set WCE_CODEPAGE=65001" : ""));
        } else if (m_utf8Line > 0 && !m_otherNonAscii) {
            m_report.warnings.push_back(LineRef(m_utf8Line) +
                                        "the text reads as UTF-8, not as code page " +
                                        std::to_string(GetACP()) + More(m_utf8Lines) +
                                        "; if names show wrongly, set WCE_CODEPAGE=65001");
        }
        m_report.whyNoPackage = WhyNoPackage();
        return std::move(m_report);
    }

  private:
    void Warn(int line, const std::string& what) {
        m_report.warnings.push_back(LineRef(line) + what);
    }

    static std::string More(int lines) {
        return lines > 1 ? " (and on " + std::to_string(lines - 1) + " more lines)" : "";
    }

    // Text not valid in the code page converts to U+FFFD, which no valid byte of one gives but
    // the UTF-8 spelling of U+FFFD itself.
    void CheckEncoding(int line, std::string_view bytes, std::u16string_view text) {
        const bool utf8 = GetACP() == CP_UTF8;
        const auto replaced =
            static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\xFFFD'));
        if (replaced > (utf8 ? Count(bytes, "\xEF\xBF\xBD") : 0)) {
            m_badLine = m_badLine ? m_badLine : line;
            ++m_badLines;
            m_badAllUtf8 = m_badAllUtf8 && IsValidUtf8(bytes);
            return;
        }
        if (utf8 || std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
            return;
        if (!IsValidUtf8(bytes)) {
            m_otherNonAscii = true;
            return;
        }
        m_utf8Line = m_utf8Line ? m_utf8Line : line;
        ++m_utf8Lines;
    }

    std::string WhyNoPackage() const {
        if (m_empty) return "SETUP.INI: the file is empty";
        if (m_listed == 0 && !m_lastRefused.empty()) return m_lastRefused + ", and no other is";
        if (m_sectionLine == 0 || m_packageLines == 0) {
            if (!m_stop.empty()) return m_stop;
        }
        if (m_sectionLine == 0 && m_nearHeaderLine > 0)
            return LineRef(m_nearHeaderLine) +
                   "the line is not exactly [PRODUCT]: the header is in capitals, "
                   "alone on its line, with nothing before it (not even a "
                   "byte-order mark)";
        if (m_sectionLine == 0)
            return "SETUP.INI: no line is [PRODUCT], the header of the package list";
        return LineRef(m_sectionLine) + "the [PRODUCT] section holds no KEY=NAME line";
    }

    ScanReport m_report;
    bool m_empty;
    int m_sectionLine = 0;
    int m_nearHeaderLine = 0;
    int m_packageLines = 0;
    int m_listed = 0;
    std::string m_lastRefused;
    std::string m_stop;
    int m_badLine = 0, m_badLines = 0;
    bool m_badAllUtf8 = true;
    int m_utf8Line = 0, m_utf8Lines = 0;
    bool m_otherNonAscii = false;
};

}  // namespace

ScanReport ScanCatalogue(LONG length, const ReadAt& readAt, const OnPackage& onPackage,
                         std::size_t maxKeyUnits, std::size_t maxNameUnits) {
    Reading reading(length <= 0);
    BYTE szLine[kWindowBytes];
    WCHAR wszLine[kWindowBytes];
    bool inSection = false;
    LONG pos = 0;
    // Lines are numbered as an editor numbers them: a LF without its CR starts one there too.
    for (int lineNo = 1; pos < length; ++lineNo) {
        const UINT want = static_cast<UINT>(std::min<LONG>(length - pos, kWindowBytes));
        // The file may have shrunk since its length was taken: scan only what arrived.
        const UINT got = std::min(readAt(pos, szLine, want), want);
        if (got == 0) {
            reading.Unreadable(lineNo);
            break;
        }
        const int chunk = static_cast<int>(got);
        const std::optional<LineEnd> end = FindLineEnd(szLine, chunk);
        if (!end) {
            reading.NoLineEnd(lineNo, szLine, chunk, pos + chunk >= length && chunk < kWindowBytes);
            break;
        }
        const int strayLineFeeds =
            static_cast<int>(std::count(szLine, szLine + end->textBytes, kLF));
        szLine[end->textBytes] = 0;
        wszLine[0] = 0;
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(szLine), -1, wszLine, chunk);
        wszLine[chunk - 1] = 0;  // a conversion that did not fit leaves its text unterminated
        const std::u16string_view line(wszLine);
        reading.Line(lineNo, reinterpret_cast<const char*>(szLine), line);
        if (strayLineFeeds > 0 && line.find(u'\n') != line.npos)
            reading.StrayLineFeed(lineNo, line);
        if (!line.empty() && line.front() == u'[') {
            inSection = line == u"[PRODUCT]";
        } else if (const auto eq = line.find(u'='); inSection && eq != line.npos) {
            const std::u16string_view key = line.substr(0, eq);
            const std::u16string_view name = line.substr(eq + 1);
            const char* problem = KeyProblem(key, maxKeyUnits);
            reading.Package(lineNo, key, name, problem, maxNameUnits);
            if (problem == nullptr && !onPackage(key, name)) {
                reading.ListFull(lineNo);
                break;
            }
        } else if (inSection && line.find_first_not_of(u" \t") != line.npos) {
            reading.NoEquals(lineNo);
        }
        pos += end->advance;
        lineNo += strayLineFeeds;
    }
    return reading.Finish();
}

namespace {
NoteSink& Sink() {
    static NoteSink sink;
    return sink;
}
}  // namespace

void SetNoteSink(NoteSink sink) {
    Sink() = std::move(sink);
}

void Note(NoteKind kind, const std::string& line) {
    if (Sink())
        Sink()(kind, line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

std::size_t FittedNameLength(std::u16string_view name, std::size_t maxUnits) {
    if (name.size() <= maxUnits) return name.size();
    return maxUnits > 0 && IsHighSurrogate(name[maxUnits - 1]) ? maxUnits - 1 : maxUnits;
}

}  // namespace catalogue
