#include "LinkIni.h"

#include "Folders.h"
#include "ProfileIni.h"
#include "PromptService.h"

#include <fstream>

std::string LinkIniPath() { return qx::ProgramFolder() + "link.ini"; }

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
  if (!text.empty()) return 0;
  qx::Prompts().Information(owner, "File " + file + " is incorrect!");
  return 1;
}
