#include "DiscBudget.h"

#include <cstdio>

namespace {

const DiscTargetInfo kTargets[2] = {
    {"DVD-D5", "4.7G", DVD5_BUDGET_MB, "Click me and switch to be D9 DVD Disc suitable"},
    {"DVD-D9", "8.5G", DVD9_BUDGET_MB, "Click me and switch to be D5 DVD Disc suitable"},
};

} // namespace

const DiscTargetInfo& GetDiscTarget(int discType) {
    return kTargets[discType == DISC_TYPE_D9 ? 1 : 0];
}

double EstimatedMovieMB(double playingSeconds) {
    return playingSeconds * 3192 * 0.125 / 1024;
}

int EstimatedTotalMB(const std::vector<double>& playingSeconds) {
    int total = 0;
    for (double seconds : playingSeconds) {
        total = static_cast<int>(total + EstimatedMovieMB(seconds));
    }
    return total;
}

double UsedSpacePercent(int totalMB, int discType) {
    return static_cast<double>(totalMB) * 100 / GetDiscTarget(discType).budgetMB;
}

std::string UsedSpaceText(double percent) {
    char text[64];
    std::snprintf(text, sizeof text, "Used space %.2f%%", percent);
    return text;
}

bool IsOverDisc(double percent) {
    return static_cast<long long>(percent) > 100;
}

bool RunDiscSizeChecks(int totalMB, int discType, bool burnChosen, const BudgetAsk& ask, const BudgetLog& log) {
    if (!burnChosen) {
        return true;
    }
    if (totalMB > DVD5_BUDGET_MB && discType == DISC_TYPE_D5) {
        if (!ask(BudgetBox::YesNoQuestion, "Warning",
                 "The target DVD movie is over DVD-D5 size. Do you want to continue?")) {
            log(0, "traget is DVD5 prespace is over it user quit\n");
            return false;
        }
        log(0, "traget is DVD5 prespace is over it but user want continue\n");
    }
    if (totalMB >= DVD5_BUDGET_MB && totalMB <= DVD9_BUDGET_MB && discType == DISC_TYPE_D5) {
        ask(BudgetBox::OkQuestion, "Warning",
            "The target DVD movie is over DVD-D5 size. Please Set Output Format to DVD-D9?");
        log(0, "traget is DVD5 prespace is over, output format is dvd-d5. Convert quit\n");
    }
    if (totalMB >= DVD9_BUDGET_MB) {
        ask(BudgetBox::OkQuestion, "Warning", "The target DVD movie is over DVD-D9 size. Please remove some movie.");
        log(0, "traget is DVD9 prespace is over, so quit\n");
        return false;
    }
    return true;
}

int CheckFreeSpace(const std::string& folder, int totalMB, const FreeSpaceQuery& query, const BudgetAsk& ask,
                   const std::function<void(const std::string&)>& trace) {
    uint64_t freeMB = 0;
    if (!query(folder, &freeMB)) {
        trace("Return -1 , in isEnoughFreeSpace");
        return -1;
    }
    const long long need = 2LL * totalMB;
    if (static_cast<long long>(freeMB) <= need) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "The output folder does not have enough free space %lldMb,\nDo you want to continue?", need);
        if (!ask(BudgetBox::YesNoQuestion, "", text)) {
            trace("Return 0 , in isEnoughFreeSpace");
            return 0;
        }
    }
    trace("Return 1 , in isEnoughFreeSpace");
    return 1;
}
