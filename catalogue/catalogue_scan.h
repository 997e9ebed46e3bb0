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

// What the reading saw that the list does not show, for a person reading standard error.
struct ScanReport {
    std::vector<std::string> warnings;  // "SETUP.INI:LINE: ..." for each line left out
};

// Why a key cannot name a package folder beside the program (it would reach outside it, or
// match other folders); nullptr when it can.
const char* KeyProblem(std::u16string_view key);

// Reads a catalogue of length bytes window by window, converting each line from the ANSI code
// page, tracking the product section and handing its package lines on in file order; a line
// whose key has a KeyProblem is left out and reported. Stops at a window without a line end and
// at a read that delivers nothing; a short read is scanned only as far as it delivered.
ScanReport ScanCatalogue(LONG length, const ReadAt& readAt, const OnPackage& onPackage);

// Where the reader's warnings go, one line each; standard error until set otherwise.
using NoteSink = std::function<void(const std::string& line)>;
void SetNoteSink(NoteSink sink);
void Note(const std::string& line);

// Length of a display name cut to fit maxUnits, never splitting a surrogate pair.
std::size_t FittedNameLength(std::u16string_view name, std::size_t maxUnits);

}  // namespace catalogue
