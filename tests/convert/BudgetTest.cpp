// Disc-size budget: the estimate, the used-space share, the start-time size questions and the
// free-space check.
#include "DiscBudget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Asked {
    BudgetBox kind;
    std::string caption;
    std::string text;
};

struct Recorder {
    std::vector<Asked> asked;
    std::vector<std::string> logs;
    std::vector<bool> answers; // consumed in order; missing answers are No
    BudgetAsk Ask() {
        return [this](BudgetBox kind, const std::string& caption, const std::string& text) {
            asked.push_back({kind, caption, text});
            if (answers.empty()) {
                return false;
            }
            bool answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
    }
    BudgetLog Log() {
        return [this](int level, const std::string& text) {
            EXPECT_EQ(level, 0);
            logs.push_back(text);
        };
    }
};

} // namespace

TEST(BudgetEstimate, OneHourIs1402MBAndAThirdOfASingleLayerDisc) {
    EXPECT_NEAR(EstimatedMovieMB(3600), 1402.73, 0.01);
    const int total = EstimatedTotalMB({3600});
    EXPECT_EQ(total, 1402);
    EXPECT_EQ(UsedSpaceText(UsedSpacePercent(total, DISC_TYPE_D5)), "Used space 32.99%");
}

TEST(BudgetEstimate, FractionIsDroppedAfterEachMovie) {
    EXPECT_EQ(EstimatedTotalMB({3601}), 1403);
    EXPECT_EQ(EstimatedTotalMB({3601, 3601}), 2806);
    EXPECT_EQ(EstimatedTotalMB({3601, 3601, 3601}), 4209);
    // Three hours in three movies: 3 x 1402, where summing first would give 4208.
    EXPECT_EQ(EstimatedTotalMB({3600, 3600, 3600}), 4206);
    EXPECT_EQ(static_cast<int>(3 * EstimatedMovieMB(3600)), 4208);
    EXPECT_EQ(EstimatedTotalMB({}), 0);
}

TEST(BudgetEstimate, OverSizeWarningFollowsTheTarget) {
    const double d5 = UsedSpacePercent(4300, DISC_TYPE_D5);
    EXPECT_EQ(UsedSpaceText(d5), "Used space 101.18%");
    EXPECT_TRUE(IsOverDisc(d5));
    const double d9 = UsedSpacePercent(4300, DISC_TYPE_D9);
    EXPECT_EQ(UsedSpaceText(d9), "Used space 53.09%");
    EXPECT_FALSE(IsOverDisc(d9));
    // 100.99 % truncates to 100: no warning yet.
    EXPECT_FALSE(IsOverDisc(100.99));
    EXPECT_TRUE(IsOverDisc(101.0));
}

TEST(BudgetTargets, TextsOfBothTargets) {
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D5).buttonText, "DVD-D5");
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D5).capacityText, "4.7G");
    EXPECT_EQ(GetDiscTarget(DISC_TYPE_D5).budgetMB, 4250);
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D5).buttonTip, "Click me and switch to be D9 DVD Disc suitable");
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D9).buttonText, "DVD-D9");
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D9).capacityText, "8.5G");
    EXPECT_EQ(GetDiscTarget(DISC_TYPE_D9).budgetMB, 8100);
    EXPECT_STREQ(GetDiscTarget(DISC_TYPE_D9).buttonTip, "Click me and switch to be D5 DVD Disc suitable");
}

TEST(BudgetSizeChecks, WithoutBurningNothingIsAsked) {
    Recorder r;
    EXPECT_TRUE(RunDiscSizeChecks(9000, DISC_TYPE_D5, false, r.Ask(), r.Log()));
    EXPECT_TRUE(r.asked.empty());
    EXPECT_TRUE(r.logs.empty());
}

TEST(BudgetSizeChecks, ExactlyTheSingleLayerBudgetOnlyAdvisesDualLayer) {
    Recorder r;
    EXPECT_TRUE(RunDiscSizeChecks(4250, DISC_TYPE_D5, true, r.Ask(), r.Log()));
    ASSERT_EQ(r.asked.size(), 1u);
    EXPECT_EQ(r.asked[0].kind, BudgetBox::OkQuestion);
    EXPECT_EQ(r.asked[0].caption, "Warning");
    EXPECT_EQ(r.asked[0].text, "The target DVD movie is over DVD-D5 size. Please Set Output Format to DVD-D9?");
    EXPECT_EQ(r.logs,
              std::vector<std::string>{"traget is DVD5 prespace is over, output format is dvd-d5. Convert quit\n"});
}

TEST(BudgetSizeChecks, OneMegabyteMoreAsksToContinueFirst) {
    Recorder no;
    EXPECT_FALSE(RunDiscSizeChecks(4251, DISC_TYPE_D5, true, no.Ask(), no.Log()));
    ASSERT_EQ(no.asked.size(), 1u);
    EXPECT_EQ(no.asked[0].kind, BudgetBox::YesNoQuestion);
    EXPECT_EQ(no.asked[0].text, "The target DVD movie is over DVD-D5 size. Do you want to continue?");
    EXPECT_EQ(no.logs, std::vector<std::string>{"traget is DVD5 prespace is over it user quit\n"});

    Recorder yes;
    yes.answers = {true, true};
    EXPECT_TRUE(RunDiscSizeChecks(4251, DISC_TYPE_D5, true, yes.Ask(), yes.Log()));
    ASSERT_EQ(yes.asked.size(), 2u);
    EXPECT_EQ(yes.logs[0], "traget is DVD5 prespace is over it but user want continue\n");
    EXPECT_EQ(yes.asked[1].text, "The target DVD movie is over DVD-D5 size. Please Set Output Format to DVD-D9?");
}

TEST(BudgetSizeChecks, DualLayerBudgetReachedAlwaysRefuses) {
    Recorder yes;
    yes.answers = {true, true, true};
    EXPECT_FALSE(RunDiscSizeChecks(8100, DISC_TYPE_D5, true, yes.Ask(), yes.Log()));
    ASSERT_EQ(yes.asked.size(), 3u);
    EXPECT_EQ(yes.asked[2].text, "The target DVD movie is over DVD-D9 size. Please remove some movie.");
    EXPECT_EQ(yes.logs.back(), "traget is DVD9 prespace is over, so quit\n");

    Recorder d9;
    EXPECT_FALSE(RunDiscSizeChecks(8100, DISC_TYPE_D9, true, d9.Ask(), d9.Log()));
    EXPECT_EQ(d9.asked.size(), 1u);

    Recorder fits;
    EXPECT_TRUE(RunDiscSizeChecks(8000, DISC_TYPE_D9, true, fits.Ask(), fits.Log()));
    EXPECT_TRUE(fits.asked.empty());
}

TEST(BudgetFreeSpace, AsksWhenTwiceTheEstimateDoesNotFit) {
    auto run = [](uint64_t freeMB, bool answer, std::vector<Asked>* asked, std::vector<std::string>* traces) {
        Recorder r;
        r.answers = {answer};
        int result = CheckFreeSpace(
            "/x/", 3000,
            [freeMB](const std::string& folder, uint64_t* out) {
                EXPECT_EQ(folder, "/x/");
                *out = freeMB;
                return true;
            },
            r.Ask(), [traces](const std::string& t) { traces->push_back(t); });
        *asked = r.asked;
        return result;
    };
    std::vector<Asked> asked;
    std::vector<std::string> traces;
    EXPECT_EQ(run(5900, false, &asked, &traces), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "The output folder does not have enough free space 6000Mb,\nDo you want to continue?");
    EXPECT_EQ(traces, std::vector<std::string>{"Return 0 , in isEnoughFreeSpace"});

    traces.clear();
    EXPECT_EQ(run(6000, true, &asked, &traces), 1);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(traces, std::vector<std::string>{"Return 1 , in isEnoughFreeSpace"});

    traces.clear();
    EXPECT_EQ(run(6001, false, &asked, &traces), 1);
    EXPECT_TRUE(asked.empty());
}

TEST(BudgetFreeSpace, UnknownSpaceGoesOn) {
    std::vector<std::string> traces;
    Recorder r;
    EXPECT_EQ(CheckFreeSpace(
                  "/x/", 3000, [](const std::string&, uint64_t*) { return false; }, r.Ask(),
                  [&](const std::string& t) { traces.push_back(t); }),
              -1);
    EXPECT_TRUE(r.asked.empty());
    EXPECT_EQ(traces, std::vector<std::string>{"Return -1 , in isEnoughFreeSpace"});
}
