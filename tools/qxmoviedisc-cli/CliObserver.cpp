#include "CliObserver.h"

#include "TerminalText.h"

using qx::discimage::PrintableText;

void PrintUnavailable(const BurnCore& core, std::FILE* err) {
    const std::string reason = core.UnavailableReason();
    std::fprintf(err, "The \"Nero\" burn engine is not available.%s%s\n", reason.empty() ? "" : " ",
                 PrintableText(reason).c_str());
}

CliObserver::CliObserver(std::FILE* out, std::FILE* err, bool assumeYes)
    : m_out(out), m_err(err), m_outPrompts(out), m_errPrompts(err) {
    m_outPrompts.SetAssumeYes(assumeYes);
    m_errPrompts.SetAssumeYes(assumeYes);
}

qx::PromptAnswer CliObserver::Ask(const qx::PromptBox& box) {
    // Names in the texts come from the file system: nothing in them may act on the terminal.
    qx::PromptBox shown = box;
    shown.text = PrintableText(box.text, true);
    shown.caption = PrintableText(box.caption);
    // The box that tells how it ended is a result; every other box is a note along the way.
    if (m_outcomeNext) {
        m_outcomeNext = false;
        return m_outPrompts.ShowBox(shown);
    }
    return m_errPrompts.ShowBox(shown);
}

void CliObserver::Log(int level, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::fprintf(m_err, "log%s: %s\n", level == 1 ? " (failure)" : "", PrintableText(line, true).c_str());
    std::fflush(m_err);
}

void CliObserver::Progress(int, const std::string& text) {
    const std::string line = m_title + ": " + text;
    if (line == m_lastProgress) {
        return;
    }
    m_lastProgress = line;
    std::fprintf(m_err, "progress: %s\n", PrintableText(line).c_str());
    std::fflush(m_err);
}
