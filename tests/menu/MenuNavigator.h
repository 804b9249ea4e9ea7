// A remote control for an authored folder: libdvdnav plays it as a software player would, and the
// test presses keys (arrows, Enter, Menu, Title) and watches where playback goes.
#pragma once

#include <dvdnav/dvdnav.h>

#include <string>
#include <vector>

class MenuNavigator {
public:
    explicit MenuNavigator(const std::string& folder);
    ~MenuNavigator();
    MenuNavigator(const MenuNavigator&) = delete;
    MenuNavigator& operator=(const MenuNavigator&) = delete;

    bool Opened() const { return m_nav != nullptr; }

    // Plays until a menu of the video manager holds its still with buttons; false when the disc
    // stops or `maxEvents` pass first. Titles entered on the way are added to TitlesEntered().
    bool RunToMenu(long maxEvents = 200000);
    // Plays until a title (1-based, of the whole disc) starts; 0 when a menu or the end comes first.
    int RunToTitle(long maxEvents = 200000);

    int Buttons() const;  // buttons of the current menu's navigation pack
    int Selected() const; // the highlighted button
    // The current navigation pack's presentation control information.
    const pci_t& Pci() const { return m_pci; }

    // Remote keys.
    bool Activate(int button);  // select the button and press Enter
    bool Arrow(char direction); // 'u', 'd', 'l', 'r'
    bool MenuKey();             // the title set's root menu
    bool TitleKey();            // the title menu

    const std::vector<int>& TitlesEntered() const { return m_titles; }
    const std::vector<std::string>& Complaints() const { return m_complaints; }
    bool Stopped() const { return m_stopped; }

private:
    enum class Wanted { Menu, Title };
    int Run(Wanted wanted, long maxEvents);

    dvdnav_t* m_nav = nullptr;
    pci_t m_pci{};
    bool m_stopped = false;
    bool m_inTitle = false;
    int m_lastTitle = -1;
    std::vector<int> m_titles;
    std::vector<std::string> m_complaints;
};
