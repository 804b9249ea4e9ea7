#include "AuthorProgress.h"

#include <cstdio>
#include <cstdlib>

AuthorProgressThrottle::AuthorProgressThrottle(std::function<void()> pump,
                                               std::function<bool(int, const std::string&)> show)
    : m_pump(std::move(pump)), m_show(std::move(show)) {}

std::string AuthorProgressThrottle::Text(int phase, int percent) {
    char text[128];
    std::snprintf(text, sizeof text, phase == 0 ? "Generating DVD movie...%d%%" : "Fixing DVD movie...%d%%", percent);
    return text;
}

void AuthorProgressThrottle::Report(int phase, int percent) {
    m_calls = (m_calls + 1) % 100;
    if (m_calls == 0 && m_pump)
        m_pump();
    if (percent == m_lastPercent && phase < 2)
        return;
    if (percent < 0)
        percent = -percent;
    m_lastPercent = percent;
    if (m_show && m_show(percent, Text(phase, percent)) && m_pump)
        m_pump();
}
