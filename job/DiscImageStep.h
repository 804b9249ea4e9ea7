// Writing the disc image of a VIDEO_TS folder to a file, with progress and a stop flag: the image step
// of a job and the image entry of the burn-DVD-folder window share it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DiscImageResult {
    bool written = false;
    std::uint64_t bytes = 0;
    std::string error;                 // why it was not written
    std::vector<std::string> warnings; // files left off the image
};

// Writes the image of `videoTsFolder` labelled `label` to `imageFile` (replaced only by a complete
// image). `progress(percent, text)` is told every new percentage; `stop` ends it early.
DiscImageResult WriteDiscImageFile(const std::string& videoTsFolder, const std::string& imageFile,
                                   const std::string& label, const std::atomic<bool>* stop,
                                   const std::function<void(int percent, const std::string& text)>& progress);
