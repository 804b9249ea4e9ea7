// Converting a movie into a DVD program stream, and writing the substitute stream.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "EncoderTypes.h"
#include "PartFileOutput.h"

namespace qx::enc {

using ProgressFn = std::function<void(double fraction)>;

// Decodes `request.input` and writes the program stream. A set `stop` ends the conversion early
// with a valid, shorter stream (result.stopped). On failure nothing is left at the output.
ConvertResult ConvertMovie(const ConvertRequest& request, const ProgressFn& progress, const std::atomic<bool>* stop,
                           OutputFileOpener opener = OpenPosixOutputFile);

// A black picture with silence of `seconds`, for a movie that failed to convert.
ConvertResult WriteSubstitute(TvStandard tv, bool wide, const std::string& output, double seconds);

// Checks a requested active picture against the frame; "" when it fits (0 x 0 always fits).
std::string CheckPictureSize(TvStandard tv, int width, int height);

} // namespace qx::enc
