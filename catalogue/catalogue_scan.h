// Reading the windows of a catalogue: the part of the catalogue reader that needs no dialog,
// shared by the dialog's LoadCatalogue, the tests and the fuzzer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/wintypes.h"

namespace catalogue {

inline constexpr int kWindowBytes = 260;  // one line of text at most 259 bytes and its CR

// Where the first line of a window ends.
struct LineEnd {
    int textBytes;  // the line's text, before its CR
    int advance;    // from the window's start to the next line's first byte
};

// The first CR LF of the window, or a CR as its last byte (its LF, if any, is skipped unseen).
// nullopt when the window holds neither: the catalogue ends there.
std::optional<LineEnd> FindLineEnd(const BYTE* window, int size);

// Fills buffer with up to count bytes at offset; returns the number of bytes it delivered.
using ReadAt = std::function<UINT(LONG offset, BYTE* buffer, UINT count)>;
// Takes one package line of the product section; false stops the reading.
using OnPackage = std::function<bool(std::u16string_view key, std::u16string_view name)>;

// What the reading saw that the list does not show, for a person reading standard error; every
// line starts "SETUP.INI:LINE: " or "SETUP.INI: ".
struct ScanReport {
    std::vector<std::string> warnings;  // lines left out, text not valid in the code page
    std::string whyNoPackage;           // what is wrong, should no package have been listed
};

// Why a key cannot name its package folder beside the program (it would reach outside it, or not
// fit the key table); nullptr when it can.
const char* KeyProblem(std::u16string_view key, std::size_t maxUnits = std::u16string_view::npos);
// Why a listed key names no folder the device could hold (a wildcard, a control character);
// nullptr when it may.
const char* KeyCaution(std::u16string_view key);

// Reads a catalogue of length bytes window by window, converting each line from the ANSI code
// page, tracking the product section and handing its package lines on in file order; a line
// whose key has a KeyProblem (keys of at most maxKeyUnits) is left out and reported, and so are
// lines of the section without "=", empty keys and names, and names that the list (maxNameUnits)
// cuts. Stops at a
// window without a line end and at a read that delivers nothing; a short read is scanned only
// as far as it delivered.
ScanReport ScanCatalogue(LONG length, const ReadAt& readAt, const OnPackage& onPackage,
                         std::size_t maxKeyUnits = std::u16string_view::npos,
                         std::size_t maxNameUnits = std::u16string_view::npos);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Where the reader's notes go, one line each; standard error at once until set otherwise.
enum class NoteKind {
    Warning,  // stands alone
    Cause,    // explains the failure message that the reader shows next
};
using NoteSink = std::function<void(NoteKind kind, const std::string& line)>;
void SetNoteSink(NoteSink sink);
void Note(NoteKind kind, const std::string& line);

// Length of a display name cut to fit maxUnits, never splitting a surrogate pair.
std::size_t FittedNameLength(std::u16string_view name, std::size_t maxUnits);

}  // namespace catalogue
