// The headless display: no screen; input comes from the script, then from an absent user.
#include <cstdio>
#include <cstdlib>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/display/install_record.h"

namespace wce::display {
namespace {

// An unattended run that keeps asking this often is not going to end by itself.
constexpr int kMaxAbsentAnswers = 10000;

class HeadlessDisplay : public wce::user::Display {
  public:
    explicit HeadlessDisplay(std::unique_ptr<Script> script) : m_script(std::move(script)) {
        // Nobody watches a screen: a long install says how it gets on, on stderr.
        EnableProgressLines(true);
    }

    void Poll() override { ProgressTick(); }

    void WaitForInput() override {
        ObserveScreen();
        while (m_script && !m_script->Exhausted()) {
            m_script->DeliverNext();
            if (wce::user::HasQueuedMessages()) return;
        }
        if (++m_absentAnswers > kMaxAbsentAnswers) {
            std::fprintf(
                stderr, "the program did not end after %d answers of an absent user; stopping it\n",
                kMaxAbsentAnswers);
            std::exit(2);
        }
        if (!m_script && m_absentAnswers == 1)
            Report(
                "headless without a script (WCE_SCRIPT), as there is no terminal or desktop or as "
                "WCE_DISPLAY "
                "says: nobody can answer, so an absent user's answers close the dialog");
        AnswerAsAbsentUser();
        if (wce::user::HasQueuedMessages()) return;
        std::fputs("nothing is shown that an absent user could answer; ending the program\n",
                   stderr);
        PostQuitMessage(0);
    }

  private:
    std::unique_ptr<Script> m_script;
    int m_absentAnswers = 0;
};

}  // namespace

void AnswerAsAbsentUser() {
    const auto screen = wce::user::SnapshotScreen();
    for (auto it = screen.rbegin(); it != screen.rend(); ++it) {
        if (it->kind == wce::user::WindowKind::MessageBox) {
            wce::user::InjectMessageBoxOk();
            return;
        }
        // A disabled dialog ignores its caption OK; pressing it would only wait again.
        if (it->hasCaptionOk && it->enabled) {
            wce::user::InjectCaptionOk();
            return;
        }
    }
}

std::unique_ptr<wce::user::Display> MakeHeadlessDisplay(std::unique_ptr<Script> script) {
    return std::make_unique<HeadlessDisplay>(std::move(script));
}

}  // namespace wce::display
