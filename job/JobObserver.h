// What a running job tells whoever shows it: log lines, the movies' states, the steps with their
// progress, the questions it asks, and how it ended. The window turns these into its private
// messages, controls and progress window; the console front-end prints them. Every call comes on
// the thread that started the job (the conversion thread waits while its calls run there).
#pragma once

#include "DiscJobParams.h"
#include "PromptService.h"

#include <string>

class QObject;

class JobObserver {
public:
    virtual ~JobObserver() = default;

    // A message box or question. The default asks the prompt service.
    virtual qx::PromptAnswer Ask(const qx::PromptBox& box) { return qx::Prompts().ShowBox(box); }
    // The window that owns the boxes the burn engines show themselves (null without one).
    virtual QObject* PromptOwner() const { return nullptr; }

    // A line for the log program: level 0 information, 1 failure.
    virtual void Log(int level, const std::string& text) { (void)level, (void)text; }
    // Where the user finds those lines, for messages that send him there (a file's path); empty when
    // they are shown along the way.
    virtual std::string LogPlace() const { return {}; }

    // The start checks: the working folder with its trailing '/' (before it is made and checked) ...
    virtual void WorkFolderChosen(const std::string& folder) { (void)folder; }
    // ... and the job accepted: the converted streams' names are fixed (Spec() has them), the
    // choices may be kept; the leftover, space and size checks follow.
    virtual void JobAccepted() {}

    // The conversion thread's messages, in its order: the job controls go off, then per movie
    // ConvertBegin (with the progress title "Converting <path>"), MovieStatus/ConvertResult,
    // ConvertEnd; AllConverted once at the end.
    virtual void EnableJobControls(bool enable) { (void)enable; }
    virtual void ConvertBegin(int row, const std::string& title) { (void)row, (void)title; }
    virtual void ConvertResult(int row, bool converted) { (void)row, (void)converted; }
    virtual void ConvertEnd(int row) { (void)row; }
    virtual void AllConverted() {}
    // A movie's status text changed ("Ready", "Completed", "Failed").
    virtual void MovieStatus(int row, const std::string& status) { (void)row, (void)status; }

    // The steps after the conversion (Menu "Creating DVD menu", Authoring "DVD authoring", Burning
    // "Burning Disc...", Imaging "Writing disc image..."), each with its progress.
    virtual void StepBegin(JobStep step, const std::string& title) { (void)step, (void)title; }
    virtual void StepEnd(JobStep step) { (void)step; }
    // Bar position and status line of the step (or movie) in progress.
    virtual void Progress(int percent, const std::string& text) { (void)percent, (void)text; }

    // Before the outcome is told (a window brings itself to the front).
    virtual void BeforeOutcome() {}
    // The job is over; the job controls are on again.
    virtual void Finished(const JobOutcome& outcome) { (void)outcome; }
};
