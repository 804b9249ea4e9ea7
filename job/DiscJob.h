// One disc job from "Start now" to the end, as a state machine over the job's parts:
//   start checks -> convert each movie (on the conversion thread) -> author the DVD folder
//   -> burn it or write its image -> completion actions (clean-up, "Mission accomplished!" or shutdown).
// Stopping (the user's Stop, with its question) and interrupting (a signal, without questions) are
// handled here in one place. Everything it has to say goes to its observer.
//
// The job lives on one thread (the window's, or the console front-end's main thread) that runs a Qt
// event loop; the conversion thread reaches it through blocking calls onto that thread, the
// equivalent of the private window messages it sends.
#pragma once

#include "ConvertThread.h"
#include "DiscJobParams.h"
#include "JobObserver.h"
#include "JobParts.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QTimer;
struct MenuDisc;

class DiscJob : private ConvertHost {
public:
    DiscJob(JobParts& parts, JobObserver& observer);
    // Close(), then nothing of the job is left running.
    ~DiscJob() override;
    DiscJob(const DiscJob&) = delete;
    DiscJob& operator=(const DiscJob&) = delete;

    // The start checks, in order: writer check (when burning), working folder, converted-stream names,
    // leftover DVD files, free space, disc size; then a fresh encoder and the conversion thread. True
    // when the conversion started: the job then runs on and ends with observer.Finished. False when a
    // check refused (the observer was told why) or a job runs already.
    bool Start(DiscJobParams spec);

    // The Stop button of a conversion's progress window: asks, and on Yes stops after the current movie.
    void StopConvert();
    // The Cancel button of the burn's progress window: the engine asks and cancels.
    void RequestStopBurn();
    // The program was told to end (SIGINT, SIGTERM): the step the job is in stops without a question -
    // a conversion as at Stop, the authoring engine within a sector (its files and the folders this run
    // made go), a burn through the engine's cancel (the DVD folder stays), the image write at once -
    // and the job ends without questions, burn or shutdown. False when no job runs.
    bool Interrupt(int signal);
    // For a program that ends in the middle of a job: ends the encoder program and removes the job's
    // own converted streams, finished or partial.
    void Abandon();

    // Whether the encoder program is started again for the next job when one ends (a window keeps it
    // for probing; the console front-end does not need it). On by default.
    void SetRestartEncoderAtEnd(bool restart) { m_bRestartEncoderAtEnd = restart; }
    // The owner is closing: a running conversion stops after its movie (no question), the job ends
    // on its usual path without starting the encoder again, and this returns - serving the
    // conversion thread's calls meanwhile - once the conversion thread has ended.
    void Close();

    bool Running() const { return m_bRunning || m_bStarting; }
    JobStep Step() const { return m_step; }
    bool StopRequested() const override { return m_bStopConvert; }
    int InterruptSignal() const { return m_outcome.interruptSignal; }
    // The job value as the job has made it: rebased stream names, statuses.
    const DiscJobParams& Spec() const { return m_spec; }
    // How the running or last job ended (so far).
    const JobOutcome& Outcome() const { return m_outcome; }
    // Milliseconds of the process clock when the current movie's conversion began.
    int64_t ConvertStartMs() const { return m_dwConvertStart; }
    // The substitute stream for a movie that failed, for the job's TV standard and aspect.
    std::string SubstituteStream() const;
    // The DVD-Video folder of a working folder: "<work>DVD Movie/VIDEO_TS/".
    static std::string VideoTsFolder(const std::string& workFolder);

private:
    // The conversion thread's view of the job (DiscJobConvert.cpp): the calls that change the job run
    // on the job's thread while the conversion thread waits.
    void EnableJobControls(bool enable) override;
    void ConvertBegin(int row) override;
    void ConvertResult(int row, bool converted) override;
    void ConvertEnd(int row) override;
    void AllConverted() override;
    int SourceCount() const override { return static_cast<int>(m_spec.movies.size()); }
    std::string SourcePath(int row) const override { return m_spec.movies.at(row).strPath; }
    std::string ConvertedPath(int row) const override { return m_spec.movies.at(row).strVobFile; }
    void SendConvertRequest(int row) override;
    ConvertWait WaitEncoderOutcome(int timeoutMs) override { return m_parts.encoder->WaitConvert(timeoutMs); }
    void Log(int level, const std::string& text) override;
    void StartConversionThread();

    // Start checks (DiscJobChecks.cpp).
    bool RunStartChecks();
    int CheckWriterReady();
    bool CheckWorkFolder();
    bool CheckOutputsSpareInputs();
    bool CheckImageTarget();
    bool FindOrDeleteLeftovers();
    int isEnoughFreeSpace(const std::string& folder);
    bool RunSizeChecks();
    int IdentifyFileSystem(const std::string& folder);
    bool StartEncoderProxy();

    // The conversion thread's messages, on the job's thread (DiscJobConvert.cpp).
    void OnConvertBegin(int row);
    void OnConvertResult(int row, bool converted);
    void OnConvertEnd(int row);
    void OnAllConverted();
    void DeleteConvertedFiles();
    void SetMovieStatus(int row, const std::string& status);

    // The steps after the conversion (DiscJobSteps.cpp, DiscJobMenu.cpp).
    void CreateDvdMenu();
    void DropDvdMenu();
    void AuthorDVDVideo();
    BurnOutcome BurnToDVDDisc();
    void WriteDiscImage();
    void FinishWithOutcome();
    void CleanTemporaryFiles();
    void FinishJob();

    // Runs `call` on the job's thread, waiting for it; directly when already there.
    void OnJobThread(const std::function<void()>& call);
    qx::PromptAnswer Tell(const std::string& text, qx::PromptIcon icon = qx::PromptIcon::Information,
                          qx::PromptButtons buttons = qx::PromptButtons::Ok, const std::string& caption = {});

    JobParts& m_parts;
    JobObserver& m_observer;
    std::unique_ptr<QObject> m_context; // lives on the job's thread
    std::unique_ptr<MenuDisc> m_menu;   // the DVD menu made for the authoring, while the job has one
    std::string m_menuFolder;           // the menu's private folder of streams
    std::string m_strCompanionFolder;
    DiscJobParams m_spec;
    JobOutcome m_outcome;
    qx::EncoderJob m_encoderJob;
    int m_nTotalSizeMB = 0;
    bool m_bSplitOutput = true;
    bool m_bRunning = false;
    bool m_bStarting = false;
    bool m_bRestartEncoderAtEnd = true;
    bool m_bClosing = false;
    JobStep m_step = JobStep::None;
    std::atomic<bool> m_bStopConvert{false};
    std::atomic<bool> m_bCancelImage{false};
    std::atomic<int64_t> m_dwConvertStart{0};
    std::atomic<int> m_nWorkersRunning{0};
    std::thread m_convertThread;
    QTimer* m_pStopRepeatTimer = nullptr; // owned by m_context
};

// Milliseconds of the process clock.
int64_t ProcessClockMs();
