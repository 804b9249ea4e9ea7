#include "MenuNavigator.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

void navLog(void* priv, dvdnav_logger_level_t level, const char* fmt, va_list args) {
    if (level == DVDNAV_LOGGER_LEVEL_DEBUG)
        return;
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, args);
    const std::string line = text;
    // About the machine rather than the disc.
    for (const char* known : {"Encrypted DVD support unavailable", "Couldn't find device name", "Can't read name block",
                              "dvd_read_name failed", "reports itself with Region mask"})
        if (line.find(known) != std::string::npos)
            return;
    static_cast<std::vector<std::string>*>(priv)->push_back(line);
}

} // namespace

MenuNavigator::MenuNavigator(const std::string& folder) {
    dvdnav_logger_cb logger{navLog};
    if (dvdnav_open2(&m_nav, &m_complaints, &logger, folder.c_str()) != DVDNAV_STATUS_OK) {
        m_complaints.push_back("dvdnav_open failed");
        m_nav = nullptr;
        return;
    }
    dvdnav_set_readahead_flag(m_nav, 0);
    dvdnav_set_PGC_positioning_flag(m_nav, 1);
}

MenuNavigator::~MenuNavigator() {
    if (m_nav)
        dvdnav_close(m_nav);
}

int MenuNavigator::Run(Wanted wanted, long maxEvents) {
    if (!m_nav)
        return 0;
    uint8_t block[DVD_VIDEO_LB_LEN];
    for (long step = 0; step < maxEvents; ++step) {
        int event = 0;
        int len = 0;
        if (dvdnav_get_next_block(m_nav, block, &event, &len) != DVDNAV_STATUS_OK) {
            m_complaints.push_back(std::string("dvdnav_get_next_block: ") + dvdnav_err_to_string(m_nav));
            return 0;
        }
        switch (event) {
        case DVDNAV_NAV_PACKET:
            if (const pci_t* pci = dvdnav_get_current_nav_pci(m_nav))
                m_pci = *pci;
            break;
        case DVDNAV_STILL_FRAME:
            // A menu holds its picture until a key is pressed; a title's still is skipped.
            if (dvdnav_is_domain_vmgm(m_nav) && (m_pci.hli.hl_gi.hli_ss & 3) != 0 && m_pci.hli.hl_gi.btn_ns > 0)
                return wanted == Wanted::Menu ? 1 : 0;
            dvdnav_still_skip(m_nav);
            break;
        case DVDNAV_WAIT:
            dvdnav_wait_skip(m_nav);
            break;
        case DVDNAV_CELL_CHANGE: {
            int32_t title = 0;
            int32_t part = 0;
            if (!dvdnav_is_domain_vts(m_nav)) {
                m_inTitle = false;
                break;
            }
            if (dvdnav_current_title_info(m_nav, &title, &part) != DVDNAV_STATUS_OK || title <= 0)
                break;
            const bool entered = !m_inTitle || title != m_lastTitle;
            m_inTitle = true;
            m_lastTitle = title;
            if (entered) {
                m_titles.push_back(title);
                if (wanted == Wanted::Title)
                    return title;
            }
            break;
        }
        case DVDNAV_STOP:
            m_stopped = true;
            return 0;
        default:
            break;
        }
    }
    m_complaints.push_back("no " + std::string(wanted == Wanted::Menu ? "menu" : "title") + " within " +
                           std::to_string(maxEvents) + " events");
    return 0;
}

bool MenuNavigator::RunToMenu(long maxEvents) {
    return Run(Wanted::Menu, maxEvents) == 1;
}

int MenuNavigator::RunToTitle(long maxEvents) {
    return Run(Wanted::Title, maxEvents);
}

int MenuNavigator::Buttons() const {
    return (m_pci.hli.hl_gi.hli_ss & 3) != 0 ? m_pci.hli.hl_gi.btn_ns : 0;
}

int MenuNavigator::Selected() const {
    int32_t button = 0;
    return m_nav && dvdnav_get_current_highlight(m_nav, &button) == DVDNAV_STATUS_OK ? button : 0;
}

bool MenuNavigator::Activate(int button) {
    pci_t pci = m_pci;
    return m_nav && dvdnav_button_select_and_activate(m_nav, &pci, button) == DVDNAV_STATUS_OK;
}

bool MenuNavigator::Arrow(char direction) {
    if (!m_nav)
        return false;
    pci_t pci = m_pci;
    switch (direction) {
    case 'u':
        return dvdnav_upper_button_select(m_nav, &pci) == DVDNAV_STATUS_OK;
    case 'd':
        return dvdnav_lower_button_select(m_nav, &pci) == DVDNAV_STATUS_OK;
    case 'l':
        return dvdnav_left_button_select(m_nav, &pci) == DVDNAV_STATUS_OK;
    case 'r':
        return dvdnav_right_button_select(m_nav, &pci) == DVDNAV_STATUS_OK;
    default:
        return false;
    }
}

bool MenuNavigator::MenuKey() {
    return m_nav && dvdnav_menu_call(m_nav, DVD_MENU_Root) == DVDNAV_STATUS_OK;
}

bool MenuNavigator::TitleKey() {
    return m_nav && dvdnav_menu_call(m_nav, DVD_MENU_Title) == DVDNAV_STATUS_OK;
}
