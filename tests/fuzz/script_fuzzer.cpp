// Fuzzes the automation script reader: whatever the file holds, it either names the bad line or
// gives well-formed actions that read back the same when written out again, or with CRLF ends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/display/displays.h"

using wce::display::ParseScript;
using wce::display::ScriptParse;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

enum class Arg { None, Number, Entry, Key, Text };
struct Known {
    std::string_view name;
    Arg arg;
    long maxNumber;
};
constexpr Known kKnown[] = {
    {"select", Arg::Entry, 0x7FFFFFFF},
    {"click", Arg::Number, 0xFFFF},
    {"key", Arg::Key, 0},
    {"ok", Arg::None, 0},
    {"close", Arg::None, 0},
    {"dump", Arg::None, 0},
    {"screenshot", Arg::Text, 0},
    {"screenshot-below-message", Arg::Text, 0},
};

const Known* Find(const std::string& name) {
    for (const auto& k : kKnown)
        if (k.name == name) return &k;
    return nullptr;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value of a plain decimal ("-0" and leading zeros included), else -1.
long Decimal(const std::string& s) {
    const bool minus = s.size() > 1 && s[0] == '-';
    if (s.empty() || s.find_first_not_of("0123456789", minus ? 1 : 0) != std::string::npos)
        return -1;
    const std::string digits = s.substr(std::min(s.find_first_not_of("-0"), s.size()));
    if (digits.size() > 12 || (minus && !digits.empty())) return -1;
    return digits.empty() ? 0 : std::strtol(digits.c_str(), nullptr, 10);
}

void CheckWellFormed(const ScriptParse& p, const std::string& source) {
    if (!p.error.empty()) {
        Check(p.actions.empty());
        Check(p.error.compare(0, source.size() + 1, source + ":") == 0);
        return;
    }
    int lastLine = 0;
    for (const auto& a : p.actions) {
        const Known* k = Find(a.name);
        Check(k != nullptr);
        Check(a.line > lastLine);
        lastLine = a.line;
        Check(a.arg.find('\n') == std::string::npos);
        Check(a.arg.empty() || (!Blank(a.arg.front()) && !Blank(a.arg.back())));
        Check((k->arg == Arg::None) == a.arg.empty());
        const bool byKeyOrName = a.arg.rfind("key=", 0) == 0 || a.arg.rfind("name=", 0) == 0;
        if (k->arg == Arg::Number || (k->arg == Arg::Entry && !byKeyOrName))
            Check(Decimal(a.arg) == a.number && a.number <= k->maxNumber);
    }
}

std::string WrittenOut(const ScriptParse& p) {
    std::string text;
    for (const auto& a : p.actions) text += a.name + (a.arg.empty() ? "" : " " + a.arg) + "\n";
    return text;
}

std::string WithCrlf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

bool SameActions(const ScriptParse& a, const ScriptParse& b, bool sameLines) {
    if (a.error != b.error || a.actions.size() != b.actions.size()) return false;
    for (size_t i = 0; i < a.actions.size(); ++i) {
        const auto& x = a.actions[i];
        const auto& y = b.actions[i];
        if (x.name != y.name || x.arg != y.arg || x.number != y.number ||
            (sameLines && x.line != y.line))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ScriptParse parsed = ParseScript(text, "fuzz");
    CheckWellFormed(parsed, "fuzz");
    // A script saved with Windows line ends means the same, to the line numbers in messages.
    Check(SameActions(parsed, ParseScript(WithCrlf(text), "fuzz"), true));
    if (parsed.error.empty())
        Check(SameActions(parsed, ParseScript(WrittenOut(parsed), "fuzz"), false));
    return 0;
}
