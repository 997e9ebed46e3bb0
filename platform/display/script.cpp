// The automation script: parsing, and delivering one action each time the program waits.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/render/png.h"
#include "platform/user/text.h"
#include "platform/user/window_tree.h"

namespace wce::display {
namespace {

using wce::user::Escaped;

enum class ArgKind { None, Number, Entry, Key, Text };

constexpr std::string_view kByKey = "key=";
constexpr std::string_view kByName = "name=";

struct KeyName {
    std::string_view name;
    WPARAM vk;
    bool shift;
};
constexpr KeyName kKeys[] = {
    {"enter", VK_RETURN, false}, {"escape", VK_ESCAPE, false}, {"tab", VK_TAB, false},
    {"shifttab", VK_TAB, true},  {"space", VK_SPACE, false},   {"up", VK_UP, false},
    {"down", VK_DOWN, false},    {"home", VK_HOME, false},     {"end", VK_END, false},
    {"pageup", VK_PRIOR, false}, {"pagedown", VK_NEXT, false},
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const KeyName* FindKey(const std::string& name) {
    const std::string lower = Lower(name);
    for (const auto& k : kKeys)
        if (k.name == lower) return &k;
    return nullptr;
}

// The list box a click would reach first: topmost window first, as the injections search.
const wce::user::WindowView* FindList(const std::vector<wce::user::WindowView>& views) {
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        if (!it->visible) continue;
        if (it->kind == wce::user::WindowKind::ListBox) return &*it;
        if (const auto* inner = FindList(it->children)) return inner;
    }
    return nullptr;
}

// The one entry of texts equal to text (first: any of them); -1 when there is none, -2 when
// several match and the first was not asked for.
int IndexOf(const std::vector<std::u16string>& texts, const std::string& text, bool first) {
    int found = -1;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (wce::user::Utf16ToUtf8(texts[i]) != text) continue;
        if (found >= 0) return -2;
        found = static_cast<int>(i);
        if (first) break;
    }
    return found;
}

// Index of the entry a "select" names; -1 when it names none, -2 when it names several.
int EntryOf(const ScriptAction& a) {
    if (a.arg.rfind(kByKey, 0) == 0) {
        // Entries with one key install the same folders: the first stands for them all.
        return IndexOf(ListKeys(), a.arg.substr(kByKey.size()), true);
    }
    if (a.arg.rfind(kByName, 0) == 0) {
        const auto screen = wce::user::SnapshotScreen();
        const wce::user::WindowView* list = FindList(screen);
        return list ? IndexOf(list->items, a.arg.substr(kByName.size()), false) : -1;
    }
    return static_cast<int>(a.number);
}

// The keys listed, for a message about a key that is not: "1", "2", "3" (quoted: a key may hold
// blanks or commas).
std::string KeysListed() {
    std::string keys;
    for (const std::u16string& key : ListKeys())
        keys += (keys.empty() ? "\"" : ", \"") + Escaped(key, "\"") + "\"";
    return keys.empty() ? "none" : keys;
}

// Each action returns why it could not be taken, or "" once its input is posted.
std::string RunSelect(const ScriptAction& a) {
    const int index = EntryOf(a);
    if (index >= 0)
        return wce::user::InjectSelectListItem(index) ? "" : "no list box shows that entry";
    if (index == -2) return "several entries have that name";
    if (a.arg.rfind(kByKey, 0) == 0)
        return "no entry has that key (the keys listed: " + KeysListed() + ")";
    if (a.arg.rfind(kByName, 0) == 0) return "no entry has that name";
    return "no list box shows that entry";
}
std::string RunClick(const ScriptAction& a) {
    return wce::user::InjectClickControl(static_cast<int>(a.number))
               ? ""
               : "no control with that ID is shown";
}
std::string RunOk(const ScriptAction&) {
    return wce::user::InjectMessageBoxOk() ? "" : "no message box is shown";
}
std::string RunClose(const ScriptAction&) {
    return wce::user::InjectCaptionOk() ? "" : "no dialog with a caption OK button is shown";
}

std::string RunKey(const ScriptAction& a) {
    const KeyName* k = FindKey(a.arg);
    wce::user::InjectKey(k->vk, k->shift);
    return "";
}

// Each entry as KEY<TAB>NAME: with control characters and backslashes spelt out, a line is an
// entry and the tab parts key from name, whatever the catalogue holds.
std::string RunList(const ScriptAction&) {
    const auto screen = wce::user::SnapshotScreen();
    const wce::user::WindowView* list = FindList(screen);
    if (list == nullptr) return "no list box is shown";
    const std::vector<std::u16string> keys = ListKeys();
    std::string out;
    for (std::size_t i = 0; i < list->items.size(); ++i)
        out += (i < keys.size() ? Escaped(keys[i], "\\") : "") + "\t" +
               Escaped(list->items[i], "\\") + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return "";
}

std::string RunDump(const ScriptAction&) {
    const std::string dump = wce::user::DumpScreen();
    std::fwrite(dump.data(), 1, dump.size(), stdout);
    std::fflush(stdout);
    return "";
}

// The PNG of the screen now; the second form leaves out the message boxes on top, which is how
// the screen looked when the first of them opened (the last moment of a copy, say). A picture
// not written is reported, and the run goes on: it is a record, not a step of the user's.
std::string Screenshot(const ScriptAction& a, wce::render::ScreenshotOf what) {
    std::string error;
    if (!wce::render::WriteScreenshotPng(a.arg, &error, what)) Report(error);
    return "";
}
std::string RunScreenshot(const ScriptAction& a) {
    return Screenshot(a, wce::render::ScreenshotOf::Screen);
}
std::string RunScreenshotBelow(const ScriptAction& a) {
    return Screenshot(a, wce::render::ScreenshotOf::BelowMessages);
}

// One row per action; a new action is one more row (and its Run function).
struct ActionSpec {
    std::string_view name;
    ArgKind arg;
    long maxNumber;
    std::string (*run)(const ScriptAction&);
    bool inScripts = true;  // false: only the command line gives it
};
constexpr ActionSpec kActions[] = {
    {"select", ArgKind::Entry, 0x7FFFFFFF, RunSelect},
    {"click", ArgKind::Number, 0xFFFF, RunClick},
    {"key", ArgKind::Key, 0, RunKey},
    {"ok", ArgKind::None, 0, RunOk},
    {"close", ArgKind::None, 0, RunClose},
    {"dump", ArgKind::None, 0, RunDump},
    {"screenshot", ArgKind::Text, 0, RunScreenshot},
    {"screenshot-below-message", ArgKind::Text, 0, RunScreenshotBelow},
    {"list", ArgKind::None, 0, RunList, false},
    {"check", ArgKind::None, 0, [](const ScriptAction&) { return RunPackageCheck(); }, false},
};

const ActionSpec* FindAction(const std::string& name) {
    for (const auto& a : kActions)
        if (a.name == name) return &a;
    return nullptr;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Checks one action's argument; returns an error text or "".
std::string CheckArgument(const ActionSpec& def, ScriptAction& action) {
    switch (def.arg) {
        case ArgKind::None:
            return action.arg.empty() ? "" : "\"" + action.name + "\" takes no argument";
        case ArgKind::Key:
            if (FindKey(action.arg)) return "";
            return "unknown key \"" + action.arg +
                   "\" (Enter, Escape, Tab, ShiftTab, Space, Up, Down, Home, End, "
                   "PageUp, PageDown)";
        case ArgKind::Text:
            return action.arg.empty() ? "\"" + action.name + "\" needs an argument" : "";
        case ArgKind::Entry:
            if (action.arg.rfind(kByKey, 0) == 0 || action.arg.rfind(kByName, 0) == 0) return "";
            if (CheckArgument({def.name, ArgKind::Number, def.maxNumber, def.run}, action).empty())
                return "";
            return "\"" + action.name + "\" needs an entry number from 0 to " +
                   std::to_string(def.maxNumber) + ", key=KEY or name=NAME, not \"" + action.arg +
                   "\"";
        case ArgKind::Number: {
            const char* end = action.arg.data() + action.arg.size();
            auto [p, ec] = std::from_chars(action.arg.data(), end, action.number);
            if (action.arg.empty() || ec != std::errc() || p != end || action.number < 0 ||
                action.number > def.maxNumber)
                return "\"" + action.name + "\" needs a number from 0 to " +
                       std::to_string(def.maxNumber) + ", not \"" + action.arg + "\"";
            return "";
        }
    }
    return "";
}

class ScriptRun : public Script {
  public:
    ScriptRun(std::vector<ScriptAction> actions, std::string source)
        : m_actions(std::move(actions)), m_source(std::move(source)) {}

    bool DeliverNext() override {
        if (Exhausted()) return false;
        const ScriptAction& a = m_actions[m_next++];
        const ActionSpec* def = FindAction(a.name);
        const std::string why = def->run(a);
        if (why.empty()) return true;
        // An action of the command line has no line to name; after a failed start, the causes
        // already said why nothing could be done.
        if (a.line == 0) StopScript(StartupFailed() ? "" : "SETUP: " + m_source + ": " + why);
        StopScript(m_source + ":" + std::to_string(a.line) + ": " + a.name +
                   (a.arg.empty() ? "" : " ") + a.arg + ": " + why + "; the script stops here");
        return true;
    }

    bool Exhausted() const override { return m_next >= m_actions.size(); }

  private:
    std::vector<ScriptAction> m_actions;
    std::string m_source;
    size_t m_next = 0;
};

}  // namespace

ScriptParse ParseScript(const std::string& text, const std::string& sourceName) {
    ScriptParse result;
    std::istringstream in(text);
    std::string raw;
    for (int line = 1; std::getline(in, raw); ++line) {
        const std::string s = Trim(raw);
        if (s.empty() || s[0] == '#') continue;
        const auto space = s.find_first_of(" \t");
        ScriptAction action{Lower(s.substr(0, space)),
                            space == std::string::npos ? "" : Trim(s.substr(space)), 0, line};
        const ActionSpec* def = FindAction(action.name);
        if (def && !def->inScripts) def = nullptr;
        std::string error =
            def ? CheckArgument(*def, action) : "unknown action \"" + action.name + "\"";
        if (!error.empty()) {
            result.actions.clear();
            result.error = sourceName + ":" + std::to_string(line) + ": " + error;
            return result;
        }
        result.actions.push_back(std::move(action));
    }
    return result;
}

std::unique_ptr<Script> MakeScript(std::vector<ScriptAction> actions, std::string source) {
    return std::make_unique<ScriptRun>(std::move(actions), std::move(source));
}

namespace {

[[noreturn]] void ScriptError(const std::string& what) {
    std::fprintf(stderr, "WCE_SCRIPT: %s\n", what.c_str());
    std::exit(2);
}

// The whole script, read no further than one byte past the limit (WCE_SCRIPT=/dev/zero ends).
std::string ReadScript(const std::string& source, const std::string& name) {
    FILE* file = source == "-" ? stdin : std::fopen(source.c_str(), "rb");
    if (file == nullptr) ScriptError("cannot read \"" + source + "\": " + std::strerror(errno));
    std::string text;
    char buffer[65536];
    std::size_t got = 0;
    while (text.size() <= kMaxScriptBytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const int err = std::ferror(file) ? errno : 0;
    if (file != stdin) std::fclose(file);
    if (err != 0) ScriptError("cannot read \"" + name + "\": " + std::strerror(err));
    if (text.size() > kMaxScriptBytes)
        ScriptError("\"" + name + "\" is larger than 1 MB (" + std::to_string(kMaxScriptBytes) +
                    " bytes); a script is a short list of actions");
    return text;
}

}  // namespace

std::unique_ptr<Script> LoadScript(const std::string& source) {
    const std::string name = source == "-" ? "standard input" : source;
    ScriptParse parsed = ParseScript(ReadScript(source, name), name);
    if (!parsed.error.empty()) ScriptError(parsed.error);
    return MakeScript(std::move(parsed.actions), name);
}

}  // namespace wce::display
