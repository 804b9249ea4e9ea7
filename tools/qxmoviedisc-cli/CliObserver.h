// How the console front-end shows a job or a writer operation: progress lines (once per change),
// log lines and boxes on standard error; the outcome's box on standard output with the results.
#pragma once

#include "JobObserver.h"

#include <cstdio>
#include <mutex>
#include <string>

// "The "Nero" burn engine is not available." with the reason the engine gives.
void PrintUnavailable(const BurnCore& core, std::FILE* err);

class CliObserver : public JobObserver {
public:
    // Questions are answered No/Cancel, or Yes/OK with `assumeYes`.
    CliObserver(std::FILE* out, std::FILE* err, bool assumeYes);

    qx::PromptAnswer Ask(const qx::PromptBox& box) override;
    void Log(int level, const std::string& text) override;
    void ConvertBegin(int, const std::string& title) override { m_title = title; }
    void StepBegin(JobStep, const std::string& title) override { m_title = title; }
    void Progress(int percent, const std::string& text) override;
    void BeforeOutcome() override { m_outcomeNext = true; }
    void Finished(const JobOutcome&) override { m_finished = true; }

    bool IsFinished() const { return m_finished; }
    // The service that prints the boxes the engines show themselves (installed process-wide).
    qx::ConsolePromptService& ErrorPrompts() { return m_errPrompts; }
    std::FILE* Out() const { return m_out; }
    std::FILE* Err() const { return m_err; }

private:
    std::FILE* m_out;
    std::FILE* m_err;
    qx::ConsolePromptService m_outPrompts;
    qx::ConsolePromptService m_errPrompts;
    std::mutex m_mutex;
    std::string m_title;
    std::string m_lastProgress;
    bool m_outcomeNext = false;
    bool m_finished = false;
};
