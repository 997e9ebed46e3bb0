// Frame pacing follows the clock it is given, not the number of calls.
#include <gtest/gtest.h>

#include "platform/display/frame_pacer.h"

namespace wce::display {
namespace {

using std::chrono::milliseconds;
using Time = FramePacer::Clock::time_point;

TEST(FramePacerTest, PollsAreDueOncePerIntervalWhateverTheirNumber) {
    struct Row { const char* what; milliseconds gap; int polls; int frames; };
    const Row rows[] = {
        {"many polls within one interval", milliseconds(0), 1000, 1},
        {"one poll a second (a slow file each)", milliseconds(1000), 5, 5},
        {"polls just under the interval", milliseconds(30), 4, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FramePacer pacer(milliseconds(33));
        Time now{};
        int frames = 0;
        for (int i = 0; i < row.polls; ++i, now += row.gap) frames += pacer.Poll(now);
        EXPECT_EQ(frames, row.frames);
    }
}

TEST(FramePacerTest, RepaintsJoinTheFrameOfTheirStepAndOnlyThat) {
    FramePacer pacer(milliseconds(33));
    Time now{};
    ASSERT_TRUE(pacer.Poll(now));
    EXPECT_TRUE(pacer.Repainted(now)) << "a file's name after a due poll";
    EXPECT_TRUE(pacer.Repainted(now)) << "and its counter, in the same step";
    int joined = 0;
    for (int i = 0; i < 100; ++i) joined += pacer.Repainted(now);
    EXPECT_LT(joined, 10) << "repaints without polls are bounded";

    EXPECT_FALSE(pacer.Poll(now + milliseconds(5)));
    EXPECT_FALSE(pacer.Repainted(now + milliseconds(6))) << "a step within the interval waits";
    EXPECT_TRUE(pacer.Repainted(now + milliseconds(40))) << "a repaint when a frame is due shows";

    pacer.Presented(now + milliseconds(100));
    EXPECT_FALSE(pacer.Poll(now + milliseconds(110))) << "a forced frame counts against the rate";
}

}  // namespace
}  // namespace wce::display
