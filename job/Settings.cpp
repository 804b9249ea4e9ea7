#include "Settings.h"

#include "Folders.h"
#include "ProfileIni.h"
#include "PromptService.h"

#include <cstdio>

namespace {

const char* const kSecTempFolder = "TMPFLD";
const char* const kKeyTempFolder = "temp folder";
const char* const kSecTvMode = "TVMODE";
const char* const kKeyTvMode = "TV Mode";
const char* const kSecAspect = "ASP";
const char* const kKeyAspect = "ASPECT";
const char* const kKeyKeepAspect = "KEEP ASPECT";
const char* const kSecBurn = "BURN";
const char* const kKeyBurn = "burn disc";
const char* const kSecDelete = "DELTMPFILE";
const char* const kKeyDelete = "delete temp files";
const char* const kSecShutdown = "SHUTDOWN";
const char* const kKeyShutdown = "shutdown computer";
const char* const kSecMenu = "DVDMENU";
const char* const kKeyMenu = "create dvd menu";
const char* const kSecVerify = "VERIFY";
const char* const kKeyVerify = "verify disc";
const char* const kSecSubtitles = "SUBTITLES";
const char* const kKeyShowSubtitles = "show at start";

std::string Number(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", n);
    return buf;
}

void Keep(qx::Status& first, const qx::Status& next) {
    if (first.ok() && !next.ok())
        first = next;
}

} // namespace

std::string DefaultTempFolder() {
    std::string folder = qx::DefaultWorkFolder();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string SettingsFilePath() {
    return qx::ConfigFolder() + "settings.ini";
}

CSettingsStore::CSettingsStore(std::string file) : m_strFile(std::move(file)) {}

OutputSettings CSettingsStore::ReadSettings() const {
    OutputSettings s;
    s.burnDisc = qx::GetPrivateProfileInt(kSecBurn, kKeyBurn, 1, m_strFile) != 0;
    s.tempFolder = qx::GetPrivateProfileString(kSecTempFolder, kKeyTempFolder, DefaultTempFolder(), m_strFile);
    s.tv = qx::GetPrivateProfileString(kSecTvMode, kKeyTvMode, "NTSC", m_strFile) == "PAL" ? TvStandard::Pal
                                                                                           : TvStandard::Ntsc;
    const int aspect = qx::GetPrivateProfileInt(kSecAspect, kKeyAspect, 1, m_strFile);
    s.aspectIndex = (aspect == 0 || aspect == 1) ? aspect : -1;
    // Present: its number decides; missing (or empty): on.
    s.keepAspect = qx::GetPrivateProfileInt(kSecAspect, kKeyKeepAspect, 1, m_strFile) != 0;
    s.deleteTempFiles = qx::GetPrivateProfileInt(kSecDelete, kKeyDelete, 1, m_strFile) != 0;
    s.shutdown = qx::GetPrivateProfileInt(kSecShutdown, kKeyShutdown, 0, m_strFile) != 0;
    s.createMenu = qx::GetPrivateProfileInt(kSecMenu, kKeyMenu, 0, m_strFile) != 0;
    s.verifyDisc = qx::GetPrivateProfileInt(kSecVerify, kKeyVerify, 1, m_strFile) != 0;
    s.showSubtitles = qx::GetPrivateProfileInt(kSecSubtitles, kKeyShowSubtitles, 0, m_strFile) != 0;
    return s;
}

qx::Status CSettingsStore::SaveOutputSettings(const std::string& tempFolder, bool pal, int aspectIndex,
                                              bool keepAspect) const {
    qx::Status first;
    Keep(first, qx::WritePrivateProfileString(kSecTempFolder, kKeyTempFolder, tempFolder, m_strFile));
    Keep(first, qx::WritePrivateProfileString(kSecTvMode, kKeyTvMode, pal ? "PAL" : "NTSC", m_strFile));
    Keep(first, qx::WritePrivateProfileString(kSecAspect, kKeyAspect, Number(aspectIndex), m_strFile));
    Keep(first, qx::WritePrivateProfileString(kSecAspect, kKeyKeepAspect, keepAspect ? "1" : "0", m_strFile));
    return first;
}

qx::Status CSettingsStore::WriteBurnDisc(bool ticked) const {
    return qx::WritePrivateProfileString(kSecBurn, kKeyBurn, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteDeleteTempFiles(bool ticked) const {
    return qx::WritePrivateProfileString(kSecDelete, kKeyDelete, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteShutdown(bool ticked) const {
    return qx::WritePrivateProfileString(kSecShutdown, kKeyShutdown, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteCreateMenu(bool ticked) const {
    return qx::WritePrivateProfileString(kSecMenu, kKeyMenu, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteVerifyDisc(bool ticked) const {
    return qx::WritePrivateProfileString(kSecVerify, kKeyVerify, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteShowSubtitles(bool ticked) const {
    return qx::WritePrivateProfileString(kSecSubtitles, kKeyShowSubtitles, ticked ? "1" : "0", m_strFile);
}

qx::Status CSettingsStore::WriteNoWriter() const {
    qx::Status first = WriteBurnDisc(false);
    Keep(first, WriteDeleteTempFiles(false));
    return first;
}

TempFolderChoice BrowseTempFolder(QObject* owner) {
    qx::FolderRequest request;
    request.title = kSelectTempFolderTitle;
    request.owner = owner;
    const qx::FolderResult r = qx::Prompts().BrowseFolder(request);
    TempFolderChoice choice;
    if (!r.chosen || r.folder.empty())
        return choice;
    const std::string folder = qx::WithTrailingSlash(r.folder);
    // Count characters, not bytes: the settings file holds 255 characters of UTF-8.
    size_t chars = 0;
    for (unsigned char c : folder)
        if ((c & 0xC0) != 0x80)
            ++chars;
    if (chars > qx::kProfileMaxValueChars) {
        qx::Prompts().Information(owner, "The folder path is longer than " + Number(int(qx::kProfileMaxValueChars)) +
                                             " characters and cannot be used:\n" + folder);
        return choice;
    }
    choice.chosen = true;
    choice.folder = folder;
    return choice;
}
