#include "LinkIni.h"

#include "Folders.h"
#include "ProfileIni.h"
#include "PromptService.h"

#include <QWidget>

#include <fstream>
#include <mutex>

namespace {
std::mutex g_mutex;
std::string g_override;
} // namespace

std::string LinkIniPath() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_override.empty() ? qx::ProgramFolder() + "link.ini" : g_override;
}

void SetLinkIniPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = path;
}

int GetLinkFromIni(const std::string& key, std::string& text, QWidget* owner) {
    return GetLinkFromIniFile(LinkIniPath(), key, text, owner);
}

int GetLinkFromIniFile(const std::string& file, const std::string& key, std::string& text, QWidget* owner) {
    text.clear();
    std::ifstream probe(file);
    if (!probe.is_open()) {
        qx::Prompts().Information(owner, "Could not find file " + file + "!");
        return 1;
    }
    probe.close();
    text = qx::GetPrivateProfileString(kLinkSection, key, "", file);
    if (!text.empty())
        return 0;
    qx::Prompts().Information(owner, "File " + file + " is incorrect!");
    return 1;
}
