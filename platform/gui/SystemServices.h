// Services of the desktop session that tests replace: powering off, keeping the screen awake.
#pragma once

#include "Status.h"

#include <memory>
#include <string>

namespace qx {

class PowerService {
public:
    virtual ~PowerService() = default;
    // Asks the login manager to power the machine off (no interactive authorisation).
    virtual Status PowerOff() = 0;
};

// While inhibiting, the screen saver and idle sleep are held off.
class ScreenSaverInhibitor {
public:
    virtual ~ScreenSaverInhibitor() = default;
    // Succeeds also when no session service exists (then nothing is inhibited: active() is false).
    virtual Status Inhibit(const std::string& application, const std::string& reason) = 0;
    virtual void UnInhibit() = 0;
    virtual bool active() const = 0;
};

// org.freedesktop.login1.Manager.PowerOff(false) on the system bus; each call waits at most timeoutMs.
std::unique_ptr<PowerService> CreateLoginManagerPowerService(int timeoutMs = 5000);
// org.freedesktop.ScreenSaver Inhibit/UnInhibit on the session bus plus an idle/sleep inhibitor
// lock from the login manager when available; each call waits at most timeoutMs. Releases in the
// destructor.
std::unique_ptr<ScreenSaverInhibitor> CreateDesktopScreenSaverInhibitor(int timeoutMs = 2000);

} // namespace qx
