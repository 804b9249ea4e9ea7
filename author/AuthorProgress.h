// The progress contract between the engine and whoever shows it. The engine reports (phase, percent):
// phase 0 while VOBs are written, phase 1 while navigation packs are fixed, and phase 2 once with 100 at
// the very end. AuthorProgressThrottle turns those calls into window updates only when something changed.
#pragma once

#include <functional>
#include <string>

using AuthorProgressHook = std::function<void(int phase, int percent)>;

class AuthorProgressThrottle {
public:
    // pump: lets the window's queue move. show: sets the bar to percent and the status text; returns false
    // when there is no window to show it in (then nothing is pumped after it).
    AuthorProgressThrottle(std::function<void()> pump, std::function<bool(int percent, const std::string& text)> show);

    // Every 100th call pumps whatever else happens; the same percent again in phase 0 or 1 changes nothing;
    // a negative percent counts as its magnitude; phase 2 always updates.
    void Report(int phase, int percent);

    // "Generating DVD movie...%d%%" for phase 0, "Fixing DVD movie...%d%%" for any other phase.
    static std::string Text(int phase, int percent);

private:
    std::function<void()> m_pump;
    std::function<bool(int, const std::string&)> m_show;
    int m_calls = 0;
    int m_lastPercent = -1;
};
