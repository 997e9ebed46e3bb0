// Frame pacing follows the clock it is given, not the number of calls.
#include "platform/display/frame_pacer.h"

#include <gtest/gtest.h>

namespace wce::display {
namespace {

using std::chrono::milliseconds;
using Time = FramePacer::Clock::time_point;

// Each row presents whenever the pacer allows, at polls spaced by gap.
TEST(FramePacerTest, FramesFollowTheClockNotTheNumberOfPolls) {
    struct Row {
        const char* what;
        milliseconds gap;
        int polls;
        int frames;
    };
    const Row rows[] = {
        {"many polls within one interval: a short burst only", milliseconds(0), 1000, 3},
        {"one poll a second (a slow file each): every one", milliseconds(1000), 5, 5},
        {"a poll every 10 ms for a second: the frame rate", milliseconds(10), 100, 32},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FramePacer pacer(milliseconds(33));
        Time now{};
        int frames = 0;
        for (int i = 0; i < row.polls; ++i, now += row.gap) {
            if (!pacer.Poll(now)) continue;
            pacer.Presented(now);
            ++frames;
        }
        EXPECT_NEAR(frames, row.frames, 1);
    }
}

TEST(FramePacerTest, RepaintsJoinTheFrameOfTheirStepAndAreBounded) {
    FramePacer pacer(milliseconds(33));
    Time now{};
    int presented = 0;
    auto repaint = [&](Time at) {
        if (!pacer.Repainted(at)) return false;
        pacer.Presented(at);
        ++presented;
        return true;
    };
    ASSERT_TRUE(pacer.Poll(now));
    EXPECT_TRUE(repaint(now)) << "a file's name after a due poll";
    EXPECT_TRUE(repaint(now)) << "and its counter, in the same step";
    for (int i = 0; i < 100; ++i) repaint(now);
    EXPECT_LT(presented, 10) << "repaints without polls are bounded";

    EXPECT_FALSE(pacer.Poll(now + milliseconds(5)));
    EXPECT_FALSE(repaint(now + milliseconds(6))) << "a step right after the burst waits";
    EXPECT_TRUE(repaint(now + milliseconds(1000))) << "a repaint after a quiet spell shows";
}

}  // namespace
}  // namespace wce::display
