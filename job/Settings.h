// The user's output choices in settings.ini ($XDG_CONFIG_HOME/qxmoviedisc/settings.ini), kept
// apart from the widgets: the main window reads them into its controls once at start-up and calls
// the writes below when the user changes something.
//
// Sections and keys: [TMPFLD] "temp folder", [TVMODE] "TV Mode" (PAL/NTSC), [ASP] "ASPECT" (combo
// index) and "KEEP ASPECT", [BURN] "burn disc", [DELTMPFILE] "delete temp files", [SHUTDOWN]
// "shutdown computer", [DVDMENU] "create dvd menu", [VERIFY] "verify disc", [SUBTITLES] "show at
// start"; numbers written with %d.
#pragma once

#include "DvdFormat.h"
#include "Status.h"

#include <string>

class QObject;

struct OutputSettings {
    std::string tempFolder;           // as typed or chosen; the trailing '/' is added at job start
    TvStandard tv = TvStandard::Ntsc; // "TV Mode": "PAL" or "NTSC"
    int aspectIndex = 1;              // 0 "4:3", 1 "16:9", -1 nothing selected (a stored value outside 0..1)
    bool keepAspect = true;
    bool burnDisc = true;
    bool deleteTempFiles = true;
    bool shutdown = false;
    bool createMenu = false;    // "Create DVD menu"
    bool verifyDisc = true;     // "Verify disc after burning"
    bool showSubtitles = false; // "Show subtitles at start"
};

// The working folder offered when none is stored: $HOME/QXMovieDisc (no trailing '/').
std::string DefaultTempFolder();
// ConfigFolder() + "settings.ini".
std::string SettingsFilePath();

class CSettingsStore {
public:
    explicit CSettingsStore(std::string file = SettingsFilePath());
    const std::string& File() const { return m_strFile; }

    // Every stored choice, with the defaults for what is missing, empty or unreadable. A value of
    // "TV Mode" other than exactly "PAL" means NTSC; numbers are read like atoi (no digits: 0).
    OutputSettings ReadSettings() const;

    // The four output keys, in order: temp folder, TV mode, aspect index (-1 when nothing is
    // selected), keep aspect. All four are attempted; the first failure is returned.
    qx::Status SaveOutputSettings(const std::string& tempFolder, bool pal, int aspectIndex, bool keepAspect) const;
    qx::Status SaveOutputSettings(const OutputSettings& s) const {
        return SaveOutputSettings(s.tempFolder, s.tv == TvStandard::Pal, s.aspectIndex, s.keepAspect);
    }

    // The writes made at the click of their check boxes (1 ticked, 0 not).
    qx::Status WriteBurnDisc(bool ticked) const;
    qx::Status WriteDeleteTempFiles(bool ticked) const;
    qx::Status WriteShutdown(bool ticked) const;
    qx::Status WriteCreateMenu(bool ticked) const;
    qx::Status WriteVerifyDisc(bool ticked) const;
    qx::Status WriteShowSubtitles(bool ticked) const;
    // No writer found: "burn disc" and "delete temp files" both become 0 (the boxes keep their state).
    qx::Status WriteNoWriter() const;

private:
    std::string m_strFile;
};

// The "Select temp folder" button: the folder browser titled "Select DVD-video Temp folder"
// through the prompt service. A chosen folder comes back with a trailing '/'. A folder whose path
// is longer than the settings file can hold (255 characters) is refused with a message instead of
// being cut; the previous folder then stays.
struct TempFolderChoice {
    bool chosen = false;
    std::string folder;
};
TempFolderChoice BrowseTempFolder(QObject* owner);

constexpr const char* kSelectTempFolderTitle = "Select DVD-video Temp folder";
