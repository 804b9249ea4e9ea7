// The menu step, between the conversion and the authoring when the job makes a DVD menu: the pages
// drawn from the converted streams into a private folder of the working folder, handed to the
// authoring and removed after it.
#include "DiscJob.h"

#include "AuthorLog.h"
#include "MenuBuilder.h"

#include <QCoreApplication>

namespace {

constexpr const char* kMenuStepTitle = "Creating DVD menu";

} // namespace

void DiscJob::CreateDvdMenu() {
    m_observer.StepBegin(JobStep::Menu, kMenuStepTitle);
    Log(0, std::string(kMenuStepTitle) + "\n");
    std::string error;
    m_menuFolder = MakeMenuFolder(m_spec.workFolder, &error);
    bool ok = !m_menuFolder.empty();
    if (ok) {
        MenuRequest request;
        request.label = m_spec.label;
        request.tv = m_spec.tv;
        request.aspect = m_spec.aspect;
        request.folder = m_menuFolder;
        for (const CSourceInfo& source : m_spec.movies) {
            request.movies.push_back({FileNameOf(source.strPath), source.strVobFile, source.dDuration});
        }
        request.progress = [this](int percent) {
            m_observer.Progress(percent, std::string(kMenuStepTitle) + "..." + std::to_string(percent) + "%");
            QCoreApplication::processEvents();
            // A signal that came meanwhile ends the menu: the job then stops without a disc.
            return m_outcome.interruptSignal == 0;
        };
        m_menu = std::make_unique<MenuDisc>();
        ok = BuildDvdMenu(request, m_menu.get(), &error);
        for (const std::string& warning : m_menu->warnings) {
            AuthorLog(3, "%s", warning.c_str());
            Log(1, warning + "\n");
        }
    }
    m_observer.StepEnd(JobStep::Menu);
    if (ok) {
        Log(0, "DVD menu created: " + std::to_string(m_menu->pageStreams.size()) + " page(s)\n");
        return;
    }
    // Without its menu the disc is not what was asked for: the job makes none.
    DropDvdMenu();
    m_outcome.authorFailed = true;
    if (m_outcome.interruptSignal != 0) {
        Log(1, "Creating DVD menu stopped: the job was interrupted\n");
        return;
    }
    AuthorLog(3, "Creating DVD menu failed: %s", error.c_str());
    Log(1, "Creating DVD menu failed: " + error + "\n");
    Tell("Creating the DVD menu failed:\n" + error, qx::PromptIcon::Error);
}

void DiscJob::DropDvdMenu() {
    m_menu.reset();
    RemoveMenuFolder(m_menuFolder);
    m_menuFolder.clear();
}
