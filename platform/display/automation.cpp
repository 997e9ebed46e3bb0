// The outcome, causes and held stderr lines of a run without a person.
#include "platform/display/automation.h"

#include <cstdio>
#include <cstdlib>

#include "platform/display/install_record.h"
#include "platform/user/display.h"

namespace wce::display {
namespace {

struct State {
    std::vector<MessageMeaning> meanings;
    std::function<std::vector<std::u16string>()> listKeys;
    std::function<bool()> check;
    HWND seenBox = nullptr;  // the message box last observed, while it shows
    std::u16string seenText;
    int lastOutcome = 0;
    std::string lastCause;
    bool startupFailed = false;
    bool scripted = false;
    bool hold = false;
    std::vector<std::string> held;
};

State& S() {
    static State state;
    return state;
}

const wce::user::WindowView* TopMessageBox(const std::vector<wce::user::WindowView>& screen) {
    for (auto it = screen.rbegin(); it != screen.rend(); ++it)
        if (it->kind == wce::user::WindowKind::MessageBox) return &*it;
    return nullptr;
}

std::u16string MessageText(const wce::user::WindowView& box) {
    for (const auto& child : box.children)
        if (child.kind == wce::user::WindowKind::Static) return child.text;
    return {};
}

void Noticed(const std::u16string& text) {
    for (const MessageMeaning& m : S().meanings) {
        if (m.text != text) continue;
        if (m.cause)
            if (const std::string line = m.cause(); !line.empty()) {
                Report(line);
                S().lastCause = line;
            }
        if (m.outcome == Outcome::StartupFailed) S().startupFailed = true;
        if (m.outcome == Outcome::Succeeded || m.outcome == Outcome::Failed) {
            if (m.outcome == Outcome::Succeeded) S().lastCause.clear();
            S().lastOutcome = m.outcome == Outcome::Succeeded ? 0 : 3;
            RecordOutcome(S().lastOutcome);
        }
        return;
    }
}

}  // namespace

void DeclareMessages(std::vector<MessageMeaning> meanings) {
    S().meanings = std::move(meanings);
}

void DeclareListKeys(std::function<std::vector<std::u16string>()> keys) {
    S().listKeys = std::move(keys);
}

void DeclarePackageCheck(std::function<bool()> check) {
    S().check = std::move(check);
}

std::string RunPackageCheck() {
    if (!S().check) return "this program has no package to check";
    // The device lacking the package is the check's answer, not a failure of the run.
    S().lastOutcome = S().check() ? 0 : 4;
    return "";
}

std::vector<std::u16string> ListKeys() {
    return S().listKeys ? S().listKeys() : std::vector<std::u16string>{};
}

void ObserveScreen() {
    const auto screen = wce::user::SnapshotScreen();
    const wce::user::WindowView* box = TopMessageBox(screen);
    if (box == nullptr) {
        S().seenBox = nullptr;
        return;
    }
    std::u16string text = MessageText(*box);
    // A box is taken once, however many waits it stays for.
    if (box->hwnd == S().seenBox && text == S().seenText) return;
    S().seenBox = box->hwnd;
    S().seenText = text;
    Noticed(text);
}

const std::string& LastFailureCause() {
    return S().lastCause;
}

void Answer(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Report(const std::string& line) {
    if (S().hold) {
        S().held.push_back(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void HoldReports(bool hold) {
    S().hold = hold;
}

void ReleaseReports() {
    S().hold = false;
    for (const std::string& line : S().held) Report(line);
    S().held.clear();
}

void SetScripted(bool scripted) {
    S().scripted = scripted;
}
bool Scripted() {
    return S().scripted;
}

int ExitStatus(int status) {
    return status == 0 && S().scripted ? S().lastOutcome : status;
}

bool StartupFailed() {
    return S().startupFailed;
}

void StopScript(const std::string& line) {
    if (!line.empty()) Report(line);
    wce::user::CurrentDisplay().Shutdown();
    ReleaseReports();
    std::exit(S().startupFailed ? 1 : 2);
}

}  // namespace wce::display
