// What the windows that burn share: the writer-ready check before a burn, the DVD folder check and
// measure, the folder's disc type and the words for a burn's outcome. (The engine runs the 500 ms
// progress timer itself, during BurnDVDFolder and EraseDisc.)
#pragma once

#include "BurnCore.h"
#include "PromptService.h"

#include <functional>
#include <string>

class QObject;

// Size limits in MB (1 MB = 1,048,576 bytes).
constexpr double kDvd5LimitMB = 4250;
constexpr double kDvd9LimitMB = 8100;

// The writer-ready check: asks `core` for writer `writer` and decides, with message boxes owned by
// `owner`, whether the inserted disc can take `requiredMB` for `target` (0 single layer, 1 dual
// layer). `logPrefix` names the caller in its log lines ("PreduceDialog Check Writer ready").
// A null core counts as no writer. 1 when the burn may go on, 0 when the user was told why not.
struct WriterCheck {
    BurnCore* core = nullptr;
    int writer = -1;
    int target = 0;
    int requiredMB = 0;
    std::string logPrefix;
    QObject* owner = nullptr;
    std::function<void(int level, const std::string& text)> log;
    // Shows the boxes; empty: the prompt service.
    std::function<qx::PromptAnswer(const qx::PromptBox&)> ask;
};
int CheckWriterReady(const WriterCheck& check);

// The DVD folder check: `folder` (with trailing '/') is a DVD-Video folder when its own name is
// VIDEO_TS (any case), or when it holds a VIDEO_TS folder (any case), which it then becomes
// ("<folder><name>/"). False, with the folder unchanged, otherwise.
bool CheckDvdFolder(std::string* folder);

// Size of a folder in MB: every file directly inside, each rounded down to whole MB; sub-folders
// do not count. A folder that cannot be read measures 0.
double DvdFolderSizeMB(const std::string& folder);

// Disc a folder of `sizeMB` needs: single layer up to 4250 MB, dual layer up to 8100 MB
// (8100 itself included: it cannot fit a single-layer disc).
enum class FolderDisc { TooSmall, SingleLayer, DualLayer, TooBig };
FolderDisc DiscForFolder(double sizeMB);

// What a window tells the user after a burn or an erase that did not end in Done. A failure sends the
// user to the log; `logPlace`, when given, says where it is ("... See the log for details: PATH").
std::string BurnOutcomeMessage(BurnOutcome outcome, const std::string& logPlace = {});
// A burn whose read-back failed: `reason` names the first bad sector and what was read there.
std::string VerifyFailureMessage(const std::string& reason, const std::string& logPlace = {});
std::string EraseOutcomeMessage(BurnOutcome outcome, const std::string& logPlace = {});
