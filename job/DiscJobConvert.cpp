// The conversion step: the conversion thread's calls, carried onto the job's thread, and what the
// job makes of each movie's result; at the end, the steps that follow.
#include "DiscJob.h"

#include "AuthorLog.h"
#include "EncoderRecord.h"

#include <unistd.h>

#include <filesystem>

void DiscJob::StartConversionThread() {
    if (m_convertThread.joinable()) {
        m_convertThread.join();
    }
    ++m_nWorkersRunning;
    m_convertThread = std::thread([this] {
        ConvertThread(*this);
        --m_nWorkersRunning;
    });
}

void DiscJob::EnableJobControls(bool enable) {
    OnJobThread([this, enable] { m_observer.EnableJobControls(enable); });
}

void DiscJob::ConvertBegin(int row) {
    OnJobThread([this, row] { OnConvertBegin(row); });
}

void DiscJob::ConvertResult(int row, bool converted) {
    OnJobThread([this, row, converted] { OnConvertResult(row, converted); });
}

void DiscJob::ConvertEnd(int row) {
    OnJobThread([this, row] { OnConvertEnd(row); });
}

void DiscJob::AllConverted() {
    OnJobThread([this] { OnAllConverted(); });
}

void DiscJob::Log(int level, const std::string& text) {
    OnJobThread([this, level, &text] { m_observer.Log(level, text); });
}

void DiscJob::SendConvertRequest(int row) {
    m_parts.encoder->SendConvert(m_spec.movies.at(row), m_encoderJob);
}

void DiscJob::SetMovieStatus(int row, const std::string& status) {
    m_spec.movies.at(row).strStatus = status;
    m_observer.MovieStatus(row, status);
}

void DiscJob::OnConvertBegin(int row) {
    m_dwConvertStart = ProcessClockMs();
    m_observer.ConvertBegin(row, "Converting " + m_spec.movies.at(row).strPath);
}

void DiscJob::OnConvertEnd(int row) {
    m_observer.ConvertEnd(row);
}

void DiscJob::OnConvertResult(int row, bool converted) {
    CSourceInfo& source = m_spec.movies.at(row);
    if (converted) {
        Log(0, "Convert File:" + source.strPath + " to VOB Successful\n");
        if (!m_bStopConvert) {
            SetMovieStatus(row, "Completed");
        }
        m_observer.ConvertResult(row, true);
        return;
    }
    Log(1, "Convert File:" + source.strPath + " to VOB Failed\n");
    SetMovieStatus(row, "Failed");
    ++m_outcome.failedMovies;
    if (source.bOwnsOutput) {
        std::error_code ec;
        std::filesystem::copy_file(SubstituteStream(), source.strVobFile,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            AuthorLog(3, "Substitute stream not copied to %s: %s", source.strVobFile.c_str(), ec.message().c_str());
        }
    }
    m_observer.ConvertResult(row, false);
}

void DiscJob::DeleteConvertedFiles() {
    for (CSourceInfo& source : m_spec.movies) {
        // Only streams whose names the job reserved are the job's own; a file the user keeps under
        // such a name was never chosen as an output.
        if (!source.bOwnsOutput) {
            continue;
        }
        for (const char* suffix : {"", ".part1", ".part2"}) {
            if (*suffix != '\0' && !m_bSplitOutput) {
                continue;
            }
            const std::string name = source.strVobFile + suffix;
            ::unlink(name.c_str());
            // What an interrupted conversion was still writing.
            ::unlink(qx::EncoderWritingName(name).c_str());
        }
        source.bOwnsOutput = false;
    }
}

void DiscJob::OnAllConverted() {
    m_observer.AllConverted();
    if (m_bStopConvert) {
        m_outcome.stopped = m_outcome.interruptSignal == 0;
        DeleteConvertedFiles();
        FinishJob();
        return;
    }
    m_outcome.started = true;
    if (m_spec.menu) {
        m_step = JobStep::Menu;
        CreateDvdMenu();
    }
    if (!m_outcome.authorFailed) {
        Log(0, "Begin DVD Author\n");
        m_step = JobStep::Authoring;
        AuthorDVDVideo();
    }
    DropDvdMenu();
    const bool authored = !m_outcome.authorFailed && m_outcome.interruptSignal == 0;
    if (m_spec.burn && authored) {
        AuthorLog(3, "Enter BurnToDVDDisc in OnBtnStartconvert");
        Log(0, "Begin Burn DVD\n");
        m_outcome.burnTried = true;
        if (m_spec.burnToImage) {
            // The writer list's image entry: the burn is the disc image file.
            m_step = JobStep::Imaging;
            WriteDiscImage();
            m_outcome.burnOutcome = m_outcome.imageWritten ? BurnOutcome::Done
                                    : m_bCancelImage       ? BurnOutcome::Cancelled
                                                           : BurnOutcome::Failed;
        } else {
            m_step = JobStep::Burning;
            m_outcome.burnOutcome = BurnToDVDDisc();
        }
    }
    const bool burned = !m_spec.burn || m_outcome.burnOutcome == BurnOutcome::Done;
    if (!m_spec.imageFile.empty() && !m_spec.burnToImage && authored && burned && m_outcome.interruptSignal == 0) {
        m_step = JobStep::Imaging;
        WriteDiscImage();
    }
    DeleteConvertedFiles();
    m_step = JobStep::Completing;
    if (m_outcome.interruptSignal != 0) {
        // The program is ending: the outcome goes to the log, no box waits for an answer and the
        // computer stays on.
        if (m_outcome.burnTried) {
            Log(1, std::string("Burn DVD ") + BurnOutcomeName(m_outcome.burnOutcome) + "\n");
        }
    } else {
        FinishWithOutcome();
    }
    FinishJob();
}
