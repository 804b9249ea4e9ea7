// Inside the second burning library: the open-device record and the library-wide state the entry
// points share.
#pragma once

#include "NeroAPI.h"
#include "StarBurn.h"

#include <atomic>
#include <string>

struct NeroDeviceHandle {
    CDVD_BURNER_GRABBER grabber = nullptr;
    SCSI_DEVICE_ADDRESS address;
    // Set while a burn runs: the burn's callbacks, reached from the writer's events.
    const NeroProgress* progress = nullptr;
    std::atomic<bool> cancelled{false};
    int lastPercent = -1;
};

namespace qx::neroapi {

// The settings NeroInit was given (the idle callback is asked during an erase).
const NeroSettings& Settings();
// Adds a line to the error log NeroGetErrorLog hands out.
void AddError(const std::string& line);
// "call failed: text (exception N)" into the error log; returns `code`.
long Failure(const char* call, long code, const char* text);

} // namespace qx::neroapi
