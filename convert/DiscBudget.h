// Disc-size budget: the estimate of the finished DVD from the movies' playing time, the two disc
// targets, the size questions asked when a job starts and the free-space check of the working folder.
// Everything here is plain logic; questions, log lines and the volume query come in as functions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Disc targets: 0 single layer, 1 dual layer.
constexpr int DISC_TYPE_D5 = 0;
constexpr int DISC_TYPE_D9 = 1;
constexpr int DVD5_BUDGET_MB = 4250;
constexpr int DVD9_BUDGET_MB = 8100;

struct DiscTargetInfo {
    const char* buttonText;   // "DVD-D5" / "DVD-D9"
    const char* capacityText; // "4.7G" / "8.5G"
    int budgetMB;
    const char* buttonTip;
};

// Facts of a target; any value other than 1 is the single-layer target.
const DiscTargetInfo& GetDiscTarget(int discType);

// Estimated size of one movie in MB (1 MB = 1024 * 1024 bytes): 399 KB for every second played.
double EstimatedMovieMB(double playingSeconds);

// Adds the movies in list order, dropping the fraction after each one (the sum the bar shows).
int EstimatedTotalMB(const std::vector<double>& playingSeconds);

// Share of the target's budget in percent.
double UsedSpacePercent(int totalMB, int discType);

// "Used space %.2f%%".
std::string UsedSpaceText(double percent);

// The over-size warning is due when the share, truncated to a whole number, exceeds 100.
bool IsOverDisc(double percent);

constexpr const char* OVER_DISC_WARNING = "The target DVD movie is over DVD-D5 size.";

// A question to the user. Returns true for Yes/OK.
enum class BudgetBox { YesNoQuestion, OkQuestion };
using BudgetAsk = std::function<bool(BudgetBox kind, const std::string& caption, const std::string& text)>;
using BudgetLog = std::function<void(int level, const std::string& text)>;

// The size checks made when a job with burning starts (without burning nothing is checked).
// Returns true when the start may go on.
bool RunDiscSizeChecks(int totalMB, int discType, bool burnChosen, const BudgetAsk& ask, const BudgetLog& log);

// Free space of a folder's volume in whole MB; false when it cannot be read.
using FreeSpaceQuery = std::function<bool(const std::string& folder, uint64_t* freeMB)>;

// Free-space check of the working folder: 1 go on, 0 the user refused, -1 the space is unknown.
// Twice the estimate must fit (converted streams plus the DVD folder); when it does not, the user
// is asked. Trace lines go to `trace`.
int CheckFreeSpace(const std::string& folder, int totalMB, const FreeSpaceQuery& query, const BudgetAsk& ask,
                   const std::function<void(const std::string&)>& trace);
