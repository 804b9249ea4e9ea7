// The look at a movie before it is converted, and what the bit plan makes of it where the movie
// changes from busy to calm and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "Convert.h"
#include "DvdWriter.h"
#include "EncoderTestSupport.h"
#include "QuantiserLook.h"

using namespace qx::enc;
using namespace qxtest;

namespace {

ConvertRequest Request(const std::string& in, const std::string& out) {
    ConvertRequest r;
    r.input = in;
    r.output = out;
    return r;
}

} // namespace

TEST(Look, FindsTheSceneChangeBetweenItsPlacesToWithinAGop) {
    ConvertRequest r = Request(CalmBusyMovie(), TestRoot() + "look.vob");
    for (TvStandard tv : {TvStandard::Pal, TvStandard::Ntsc}) {
        r.tv = tv;
        QuantiserLook look = LookAtMovie(r, 0, 10.0, true);
        ASSERT_GE(look.places.size(), 5u);
        EXPECT_TRUE(
            std::is_sorted(look.places.begin(), look.places.end(),
                           [](const PlaceDifficulty& a, const PlaceDifficulty& b) { return a.seconds < b.seconds; }));
        double most = 0;
        for (const PlaceDifficulty& p : look.places)
            most = std::max(most, p.complexity);
        // The last still place and the first busy one: the cut at 5 s lies between, close by.
        double lastCalm = -1, firstBusy = 1e9;
        for (const PlaceDifficulty& p : look.places) {
            if (p.complexity < most / 10)
                lastCalm = std::max(lastCalm, p.seconds);
            else if (p.complexity > most / 3)
                firstBusy = std::min(firstBusy, p.seconds);
        }
        EXPECT_LT(lastCalm, 5.0);
        EXPECT_GT(firstBusy, 4.9);
        EXPECT_LT(firstBusy - lastCalm, 1.2);
        // Calm places are measured at the finest step too, where bits x step is below the look's.
        for (const PlaceDifficulty& p : look.places)
            if (p.complexity < most / 10) {
                EXPECT_GT(p.finest, 0.0) << p.seconds;
                EXPECT_LT(p.finest, p.complexity) << p.seconds;
            }
        // Places land where they were asked for, not on the source's key pictures 2 s apart.
        EXPECT_TRUE(std::any_of(look.places.begin(), look.places.end(),
                                [](const PlaceDifficulty& p) { return std::fmod(p.seconds, 2.0) > 0.2; }));
    }
    // Without a length there is nothing to plan with.
    EXPECT_TRUE(LookAtMovie(r, 0, 0.0, true).places.empty());
}

TEST(Look, BusyScenesLeaveTheStillSceneAfterThemItsPicture) {
    // 4 s of scrolling cells, then 4 s of one detailed picture held, both filling the frame. The
    // busy half takes most of the budget, but not the still half's share: the GOP that holds the
    // change is coded as busy, so it cannot spend what the still GOPs after it need.
    std::string movie = Fixture(
        "busy-still.rm", "-f lavfi -i cellauto=size=320x240:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:"
                         "scroll=1,format=yuv420p,trim=duration=4 -f lavfi -i testsrc2=size=320x240:rate=25,"
                         "trim=end_frame=1,loop=loop=99:size=1,setpts=N/25/TB -filter_complex "
                         "[0:v][1:v]concat=n=2:v=1[v] -f lavfi -i sine=d=8 -map [v] -map 2:a -t 8 -c:v rv20 "
                         "-b:v 400k -qmin 3 -g 50 -c:a ac3 -b:a 96k");
    const std::string out = TestRoot() + "busy-still.vob";
    ConvertRequest r = Request(movie, out);
    r.pictureWidth = 720;
    r.pictureHeight = 576;
    ConvertResult res = ConvertMovie(r, nullptr, nullptr);
    ASSERT_TRUE(res.ok) << res.error;
    EXPECT_NEAR(res.bytes / res.seconds / kTargetBytesPerSecond, 1.0, 0.03);
    std::vector<GopFacts> gops = ReadGops(out);
    ASSERT_GE(gops.size(), 12u);
    std::vector<int> busy, still;
    for (size_t i = 0; i < gops.size(); ++i)
        for (int step : gops[i].steps)
            (i < 6 ? busy : still).push_back(step);
    std::sort(busy.begin(), busy.end());
    std::sort(still.begin(), still.end());
    EXPECT_GE(busy[busy.size() / 2], 20) << "the busy half is coded coarse";
    EXPECT_LE(still[still.size() * 3 / 4], 8) << "and the still half fine";
    EXPECT_EQ(CheckPictureArrival(out, 25), "");
}
