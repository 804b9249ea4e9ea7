// The interface both burning engines offer to the windows that burn, erase or list writers, and
// the description of a writer with its inserted disc. A window reads the selected index of its
// "Burn Engine:" combo (0 "Build-in", 1 "Nero") and calls that engine.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QObject;

// How a burn or an erase ended. Only Done may be reported to the user as success.
enum class BurnOutcome {
    Done,      // the folder is on the disc (session closed) or the disc was blanked
    Refused,   // a check stopped it before anything was written (size, blank state, no writer)
    Failed,    // the engine or the writer failed
    Cancelled, // the user stopped it
};

const char* BurnOutcomeName(BurnOutcome outcome); // "done", "refused", "failed", "cancelled"

// A writer and its inserted disc, as a burn core describes them (filled by GetWriterInfo; the caller
// constructs it with empty texts and cleared flags).
struct DVDDeviceInfo {
    std::string typename_; // writer description
    // Highest read and write speeds ("16.0x", "N/A").
    std::string ReadSpeed;
    std::string WriteSpeed;
    // Writes DVD-R, DVD-RW, DVD-R DL, DVD+R, DVD+RW, DVD+R DL.
    bool support[6] = {false, false, false, false, false, false};
    std::string type;       // inserted media name
    std::string totleSpace; // "%0.1f M"
    int totalSpaceMB = 0;   // the same in whole MB
    // What a rewritable disc that holds data can take once it is erased (whole MB); 0: the same as
    // totalSpaceMB (a blank disc, or an engine that cannot tell).
    int blankSpaceMB = 0;
    std::string usedSpace; // "%0.1f M"
    bool m_bD9 = false;
    bool DiscIsInserted = false;
    bool CanSupport = false;
    bool CanErase = false;
    bool isEmpty = false;
};

// One status line of a running burn or erase, with its percentage.
struct ProgressLine {
    std::string text; // at most 511 characters
    int percent = 0;
};

// One burning engine with its six operations, all called on the user-interface thread.
class BurnCore {
public:
    virtual ~BurnCore() = default;
    // Binds and initialises the engine; false when it is not available ...
    virtual bool InitBurnCore() = 0;
    // ... and then why (empty when it is, or when the engine cannot tell).
    virtual std::string UnavailableReason() const { return {}; }
    // Builds the list of usable writers ("D: Product") and hands it to `deliver` on the calling
    // thread (the window then fills its writer combo). An engine that is not bound delivers nothing.
    virtual void ListWriters(QObject* window, const std::function<void(std::vector<std::string>)>& deliver) = 0;
    // 1 when writer `writer` (its index in the list) was found and described, 0 otherwise.
    virtual int GetWriterInfo(int writer, DVDDeviceInfo* info) = 0;
    // Return when the work is over; the windows stay responsive meanwhile (the engine dispatches
    // messages while its worker runs) and progress goes to the progress window.
    virtual BurnOutcome BurnDVDFolder(QObject* window, int writer, const std::string& folder,
                                      const std::string& label) = 0;
    virtual BurnOutcome EraseDisc(QObject* window, int writer) = 0;
    // Asks the user and, on Yes, cancels the running burn or erase (the progress window's Cancel).
    virtual void RequestStopBurn() = 0;
    // Cancels the running burn or erase without asking, in whatever step it is (the program is told
    // to end): nothing more is written, the running call returns Cancelled as soon as the engine has
    // stopped. Does nothing while nothing runs.
    virtual void CancelBurn() = 0;

    // Sees every status line of a running burn or erase (the engine builds one every 500 ms); set by
    // whoever shows the progress, may be empty.
    std::function<void(const ProgressLine&)> onProgressLine;

    // Whether BurnDVDFolder reads the written disc back and compares it with what was written (its
    // own phase, "Verifying Data; ..."): Done then means every sector matches. Set by whoever starts
    // the burn; off, the burn is what it always was.
    bool verifyAfterBurn = false;
    // Why the last burn's read-back failed - the first sector that differs or could not be read, and
    // what was read there - or empty when it did not fail.
    const std::string& VerifyFailure() const { return m_strVerifyFailure; }

protected:
    std::string m_strVerifyFailure;
};
