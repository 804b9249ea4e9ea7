// What the command-line programs share when they write an image file: the clock, the default label,
// messages under the program's name, progress on a terminal, and SIGINT/SIGTERM as a clean cancel.
#pragma once

#include <atomic>
#include <csignal>
#include <ctime>
#include <ostream>
#include <string>

namespace qx::discimage {

// Exit statuses of an image run.
constexpr int kImageOk = 0;
constexpr int kImageFailed = 1;
// Interrupted by a signal: 128 + the signal number, as a shell reports it.

// While it lives, SIGINT and SIGTERM only raise Flag() (and record the signal): the program stops its
// work cleanly and exits with 128 + Signal(). The previous handlers come back when it goes away. One
// inside another (qxauthor's around the image step) keeps the flag as it is; the outermost one starts
// with it down.
class InterruptCancel {
public:
    InterruptCancel();
    ~InterruptCancel();
    InterruptCancel(const InterruptCancel&) = delete;
    InterruptCancel& operator=(const InterruptCancel&) = delete;
    const std::atomic<bool>& Flag() const;
    int Signal() const;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// The local time now, or of SOURCE_DATE_EPOCH (seconds since 1970) when that is set, so a build that
// sets it gets the same image twice.
bool ImageClock(std::tm* time, std::string* error);

// The label a folder's image gets when none is given: the name of the folder that holds VIDEO_TS
// (or of the VIDEO_TS folder itself when it has no other name), its first 32 characters.
std::string DefaultLabel(const std::string& videoTsFolder);

// The VIDEO_TS folder of `folder`: the folder itself when it holds VIDEO_TS.IFO (any case), else its
// VIDEO_TS subfolder when that exists, matched in any letter case ("video_ts"; with several such
// folders only "VIDEO_TS" itself is taken); otherwise `folder` unchanged (Create then names what is
// missing).
std::string FindVideoTsFolder(const std::string& folder);

// Writes the image of `videoTsFolder` to `isoPath`; warnings, errors and the result go to `out` as
// "PROGRAM: ..." lines (control characters in names escaped, see PrintableText), with a percentage
// updated in place when `showProgress` (for a terminal). An `isoPath` that is one of the folder's
// files or lies inside it is refused (WriteImageFile).
// While it runs, SIGINT and SIGTERM stop it and remove the partial file. Returns kImageOk,
// kImageFailed, or 128 + the signal.
int WriteFolderImageFile(const std::string& program, const std::string& videoTsFolder, const std::string& isoPath,
                         const std::string& label, std::ostream& out, bool showProgress);

} // namespace qx::discimage
