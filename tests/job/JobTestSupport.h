// The disc-job tests' fixture: the job's parts as stand-ins, an observer that records what the job
// reports and answers its questions from a script, and a run of the job to its end.
#pragma once

#include "DiscJob.h"
#include "JobDoubles.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

class RecordingObserver : public JobObserver {
public:
    // The first rule whose text is part of a box's text answers it; other boxes get their default.
    void Answer(const std::string& textPart, qx::PromptAnswer answer) { m_rules.push_back({textPart, answer}); }
    qx::PromptAnswer Ask(const qx::PromptBox& box) override;
    void Log(int level, const std::string& text) override { log.push_back(std::to_string(level) + " " + text); }
    void WorkFolderChosen(const std::string& folder) override { events.push_back("folder " + folder); }
    void JobAccepted() override { events.push_back("accepted"); }
    void EnableJobControls(bool enable) override { events.push_back(enable ? "controls on" : "controls off"); }
    void ConvertBegin(int row, const std::string& title) override;
    void ConvertResult(int row, bool converted) override;
    void ConvertEnd(int row) override { events.push_back("end " + std::to_string(row)); }
    void AllConverted() override { events.push_back("all converted"); }
    void MovieStatus(int row, const std::string& status) override;
    void StepBegin(JobStep step, const std::string& title) override;
    void StepEnd(JobStep step) override;
    void Progress(int percent, const std::string& text) override;
    void Finished(const JobOutcome& outcome) override;

    // Runs inside Progress while the job is in `actAt` (once), e.g. to interrupt it there; with
    // actAtBegin already when that step begins.
    JobStep actAt = JobStep::None;
    bool actAtBegin = false;
    std::function<void()> act;

    std::vector<std::string> events;
    std::vector<std::string> boxes;
    std::vector<std::string> log;
    std::vector<std::string> progress;
    JobStep step = JobStep::None;
    bool finished = false;
    JobOutcome outcome;
    // How many lines of the log contain `part`.
    size_t LogCount(const std::string& part) const;

private:
    std::vector<std::pair<std::string, qx::PromptAnswer>> m_rules;
};

class JobTest : public ::testing::Test {
protected:
    void SetUp() override;
    // A movie of the job, as the probe would have made it.
    CSourceInfo Movie(const std::string& name, double seconds = 60);
    // Starts the job and waits (serving events) until it has finished; false when it did not start.
    bool Run(DiscJobParams spec);
    DiscJobParams TwoMovies();

    std::string companion, work, movies;
    FakeEncoder* encoder = nullptr;
    FakeAuthoring* authoring = nullptr;
    FakeCore* core = nullptr;
    FakePower* power = nullptr;
    JobParts parts;
    RecordingObserver observer;
    std::unique_ptr<DiscJob> job;
};
