// What a request to the encoder program carries besides the record's layout, and how the waits for
// its answers end. One vocabulary for the channel, the conversion driver and the job.
#pragma once

#include "DvdFormat.h"

#include <cstdint>
#include <string>
#include <vector>

// The wait for a probe answer: the answer came, or the encoder died or hung (it is restarted).
enum class ProbeWait { Answered, Crashed };
// One slice of the wait for a conversion: nothing yet, the completion answer, or a crash.
enum class ConvertWait { None, Complete, Crashed };

namespace qx {

// The movie's facts a conversion request carries (as the probe answered them).
struct EncoderMovie {
    std::string path;    // the movie
    std::string vobFile; // the converted stream, ending ".vob"
    int32_t width = 0;
    int32_t height = 0;
    float aspect = 0;   // display aspect ratio
    int32_t probeA = 0; // returned as the probe gave them
    float probeB = 0;
    // Per subtitle of the probe answer: its subpicture stream id (0x20..0x3F), 0 to leave it out.
    std::vector<uint8_t> subtitleStreams;
};

// The job's choices a conversion request carries.
struct EncoderJob {
    std::string workFolder; // with its trailing '/'
    TvStandard tv = TvStandard::Pal;
    DisplayAspect aspect = DisplayAspect::Standard4x3;
    bool keepAspect = false; // "Keep Original Asepct Rate"
    bool splitOutput = true; // the stream may be split into part files
};

} // namespace qx
