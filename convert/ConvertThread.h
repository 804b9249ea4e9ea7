// The conversion driver: converts the movies of a job one after another through the encoder program.
// The thread talks to the job only through the host below, whose calls run synchronously on the
// job's thread (the equivalent of sending a private window message).
#pragma once

#include "EncoderRequest.h"

#include <cstdint>
#include <string>

// A converted stream counts only when it holds at least this many bytes.
constexpr int64_t MIN_CONVERTED_STREAM_BYTES = 10240;

// Outcome rule: after the encoder's completion answer, the stream must hold 10240 bytes or more.
bool IsConvertedStreamGood(int64_t sizeBytes);

// Size of a file, 0 when it is missing or unreadable.
int64_t ConvertedStreamSize(const std::string& path);

class ConvertHost {
public:
    virtual ~ConvertHost() = default;

    // Calls that run on the job's thread while this thread waits.
    virtual void EnableJobControls(bool enable) = 0;
    virtual void ConvertBegin(int row) = 0;                  // WM_CONVERT_BEGIN
    virtual void ConvertResult(int row, bool converted) = 0; // WM_CONVERT_RESULT
    virtual void ConvertEnd(int row) = 0;                    // WM_CONVERT_END
    virtual void AllConverted() = 0;                         // WM_CONVERT_ALL_DONE

    // Facts of the job, fixed while it runs.
    virtual int SourceCount() const = 0;
    virtual std::string SourcePath(int row) const = 0;
    virtual std::string ConvertedPath(int row) const = 0;

    // Builds and sends the conversion request of one movie (on this thread).
    virtual void SendConvertRequest(int row) = 0;
    // Waits at most `timeoutMs` for the encoder; completion is tested before the crash report.
    virtual ConvertWait WaitEncoderOutcome(int timeoutMs) = 0;
    virtual bool StopRequested() const = 0;

    // A line on the diagnostic log channel.
    virtual void Log(int level, const std::string& text) = 0;
};

// The body of the conversion thread. Returns when WM_CONVERT_ALL_DONE has been handled.
void ConvertThread(ConvertHost& host);
