#include "ConvertThread.h"

#include <sys/stat.h>

namespace {

// Each pass waits this long for the completion answer before looking again; the wait is short so
// that a stop request and a crash report are seen promptly.
constexpr int kWaitSliceMs = 20;

void ConvertOne(ConvertHost& host, int row) {
    const std::string path = host.SourcePath(row);
    host.Log(0, "Begin convert file:" + path + "\n");
    host.ConvertBegin(row);
    host.SendConvertRequest(row);
    for (;;) {
        const ConvertWait outcome = host.WaitEncoderOutcome(kWaitSliceMs);
        if (outcome == ConvertWait::Complete) {
            if (IsConvertedStreamGood(ConvertedStreamSize(host.ConvertedPath(row)))) {
                host.ConvertResult(row, true);
                host.Log(0, "Convert file:" + path + " compete stopped:" + (host.StopRequested() ? "1" : "0") + "\n");
            } else {
                host.ConvertResult(row, false);
                host.Log(1, "Convert file:" + path + " compete and size too small, so failed\n");
            }
            break;
        }
        if (outcome == ConvertWait::Crashed) {
            host.Log(1, "Convert file:" + path + " make Encoderproxy crashed\n");
            host.ConvertResult(row, false);
            break;
        }
    }
    host.ConvertEnd(row);
}

} // namespace

bool IsConvertedStreamGood(int64_t sizeBytes) {
    return sizeBytes >= MIN_CONVERTED_STREAM_BYTES;
}

int64_t ConvertedStreamSize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    return static_cast<int64_t>(st.st_size);
}

void ConvertThread(ConvertHost& host) {
    host.EnableJobControls(false);
    host.Log(0, "Begin convert each media file\n");
    for (int row = 0; row < host.SourceCount(); ++row) {
        ConvertOne(host, row);
        if (host.StopRequested()) {
            break;
        }
    }
    host.Log(0, host.StopRequested() ? "User stopped convert process\n" : "Complete convert all file\n");
    host.AllConverted();
}
