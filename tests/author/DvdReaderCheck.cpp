#include "DvdReaderCheck.h"

#include <dvdnav/dvdnav.h>
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

std::string formatV(const char* fmt, va_list args) {
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    return buffer;
}

// Messages about the machine rather than the folder: no decryption library, and a folder is no drive
// (so it has no disc name block), and the region mask every region-free disc reports.
bool aboutTheMachine(const std::string& text) {
    for (const char* known : {"Encrypted DVD support unavailable", "Couldn't find device name", "Can't read name block",
                              "dvd_read_name failed", "reports itself with Region mask"})
        if (text.find(known) != std::string::npos)
            return true;
    return false;
}

void complain(void* priv, const char* who, const char* fmt, va_list args) {
    std::string text = formatV(fmt, args);
    if (!aboutTheMachine(text))
        static_cast<std::vector<std::string>*>(priv)->push_back(who + text);
}

void readerLog(void* priv, dvd_logger_level_t level, const char* fmt, va_list args) {
    if (level != DVD_LOGGER_LEVEL_DEBUG)
        complain(priv, "dvdread: ", fmt, args);
}

void navLog(void* priv, dvdnav_logger_level_t level, const char* fmt, va_list args) {
    if (level != DVDNAV_LOGGER_LEVEL_DEBUG)
        complain(priv, "dvdnav: ", fmt, args);
}

int menuPgcs(const ifo_handle_t* ifo) {
    int count = 0;
    if (ifo->pgci_ut)
        for (int i = 0; i < ifo->pgci_ut->nr_of_lus; ++i)
            count += ifo->pgci_ut->lu[i].pgcit ? ifo->pgci_ut->lu[i].pgcit->nr_of_pgci_srp : 0;
    return count;
}

int bcd(uint8_t v) {
    return (v >> 4) * 10 + (v & 0x0F);
}

double timeSeconds(const dvd_time_t& t) {
    double fps = ((t.frame_u >> 6) & 3) == 3 ? 30000.0 / 1001.0 : 25.0;
    return bcd(t.hour) * 3600.0 + bcd(t.minute) * 60.0 + bcd(t.second) + bcd(t.frame_u & 0x3F) / fps;
}

std::vector<unsigned char> commandBytes(const vm_cmd_t& cmd) {
    return std::vector<unsigned char>(cmd.bytes, cmd.bytes + 8);
}

void summariseTitle(const ifo_handle_t* vts, const title_info_t& info, DvdTitleSummary& out,
                    std::vector<std::string>& complaints) {
    const vts_ptt_srpt_t* ptt = vts->vts_ptt_srpt;
    if (info.vts_ttn < 1 || info.vts_ttn > ptt->nr_of_srpts) {
        complaints.push_back("title number outside the title set's chapter table");
        return;
    }
    const ttu_t& unit = ptt->title[info.vts_ttn - 1];
    out.chaptersInSet = unit.nr_of_ptts;
    if (unit.nr_of_ptts == 0) {
        complaints.push_back("title without chapters");
        return;
    }
    int pgcn = unit.ptt[0].pgcn;
    if (pgcn < 1 || pgcn > vts->vts_pgcit->nr_of_pgci_srp) {
        complaints.push_back("chapter points at a missing program chain");
        return;
    }
    const pgc_t* pgc = vts->vts_pgcit->pgci_srp[pgcn - 1].pgc;
    out.programs = pgc->nr_of_programs;
    out.cells = pgc->nr_of_cells;
    out.seconds = timeSeconds(pgc->playback_time);
    if (const vtsi_mat_t* mat = vts->vtsi_mat) {
        for (int j = 0; j < mat->nr_of_vts_subp_streams && j < 32; ++j) {
            const subp_attr_t& a = mat->vts_subp_attr[j];
            out.subpictureLanguages.push_back(
                a.type == 1 ? std::string{static_cast<char>(a.lang_code >> 8), static_cast<char>(a.lang_code & 0xFF)}
                            : std::string());
        }
    }
    for (int j = 0; j < 32; ++j)
        out.subpictureControl.push_back(pgc->subp_control[j]);
    for (int j = 0; j < 16; ++j)
        out.palette.push_back(pgc->palette[j]);
    if (pgc->command_tbl) {
        for (int k = 0; k < pgc->command_tbl->nr_of_pre; ++k)
            out.preCommands.push_back(commandBytes(pgc->command_tbl->pre_cmds[k]));
        out.postCommands = pgc->command_tbl->nr_of_post;
        if (pgc->command_tbl->nr_of_post > 0)
            out.firstPostCommand = commandBytes(pgc->command_tbl->post_cmds[0]);
    }
    for (int k = 0; k < unit.nr_of_ptts; ++k)
        if (unit.ptt[k].pgn < 1 || unit.ptt[k].pgn > pgc->nr_of_programs)
            complaints.push_back("chapter points at a missing program");
}

void checkTitleSet(const ifo_handle_t* vts, int number, std::vector<std::string>& complaints) {
    std::string name = "title set " + std::to_string(number) + ": ";
    if (!vts->vtsi_mat)
        complaints.push_back(name + "no header");
    if (!vts->vts_ptt_srpt)
        complaints.push_back(name + "no chapter table");
    if (!vts->vts_pgcit)
        complaints.push_back(name + "no program chain table");
    if (!vts->vts_tmapt)
        complaints.push_back(name + "no time map table");
    if (!vts->vts_c_adt)
        complaints.push_back(name + "no cell address table");
    if (!vts->vts_vobu_admap)
        complaints.push_back(name + "no VOBU address map");
}

} // namespace

DvdReadReport ReadDvdFolder(const std::string& folder) {
    DvdReadReport report;
    dvd_logger_cb logger{readerLog};
    dvd_reader_t* dvd = DVDOpen2(&report.complaints, &logger, folder.c_str());
    if (!dvd) {
        report.complaints.push_back("DVDOpen failed");
        return report;
    }
    report.opened = true;
    ifo_handle_t* vmg = ifoOpen(dvd, 0);
    if (!vmg) {
        report.complaints.push_back("cannot read the video manager");
        DVDClose(dvd);
        return report;
    }
    if (!vmg->tt_srpt || !vmg->vts_atrt || !vmg->first_play_pgc || !vmg->vmgi_mat) {
        report.complaints.push_back("video manager lacks a table");
    } else {
        report.titleSets = vmg->vmgi_mat->vmg_nr_of_title_sets;
        report.managerMenuPgcs = menuPgcs(vmg);
        if (vmg->vts_atrt->nr_of_vtss != report.titleSets)
            report.complaints.push_back("title-set attribute table disagrees with the header");
        const pgc_command_tbl_t* fp = vmg->first_play_pgc->command_tbl;
        if (fp)
            for (int i = 0; i < fp->nr_of_pre; ++i)
                report.firstPlayCommands.push_back(commandBytes(fp->pre_cmds[i]));
        std::vector<ifo_handle_t*> sets(report.titleSets + 1, nullptr);
        for (int n = 1; n <= report.titleSets; ++n) {
            sets[n] = ifoOpen(dvd, n);
            if (!sets[n])
                report.complaints.push_back("cannot read title set " + std::to_string(n));
            else
                checkTitleSet(sets[n], n, report.complaints);
            report.titleSetMenuPgcs.push_back(sets[n] ? menuPgcs(sets[n]) : -1);
        }
        for (int i = 0; i < vmg->tt_srpt->nr_of_srpts; ++i) {
            const title_info_t& info = vmg->tt_srpt->title[i];
            DvdTitleSummary title;
            title.titleSet = info.title_set_nr;
            title.titleInSet = info.vts_ttn;
            title.chapters = info.nr_of_ptts;
            if (info.title_set_nr >= 1 && info.title_set_nr <= report.titleSets && sets[info.title_set_nr] &&
                sets[info.title_set_nr]->vts_ptt_srpt && sets[info.title_set_nr]->vts_pgcit)
                summariseTitle(sets[info.title_set_nr], info, title, report.complaints);
            else
                report.complaints.push_back("title " + std::to_string(i + 1) + " names a missing title set");
            report.titles.push_back(title);
        }
        for (ifo_handle_t* set : sets)
            if (set)
                ifoClose(set);
    }
    ifoClose(vmg);
    DVDClose(dvd);
    return report;
}

DvdPlayReport PlayDvdFolder(const std::string& folder, long maxSteps) {
    DvdPlayReport report;
    dvdnav_logger_cb logger{navLog};
    dvdnav_t* nav = nullptr;
    if (dvdnav_open2(&nav, &report.complaints, &logger, folder.c_str()) != DVDNAV_STATUS_OK) {
        report.complaints.push_back("dvdnav_open failed");
        return report;
    }
    dvdnav_set_readahead_flag(nav, 0);
    dvdnav_set_PGC_positioning_flag(nav, 1);
    std::vector<uint8_t> buffer(DVD_VIDEO_LB_LEN);
    for (long step = 0; step < maxSteps; ++step) {
        int event = 0;
        int len = 0;
        if (dvdnav_get_next_block(nav, buffer.data(), &event, &len) != DVDNAV_STATUS_OK) {
            report.complaints.push_back(std::string("dvdnav_get_next_block: ") + dvdnav_err_to_string(nav));
            break;
        }
        if (event == DVDNAV_STOP) {
            report.reachedStop = true;
            break;
        }
        switch (event) {
        case DVDNAV_BLOCK_OK:
            ++report.blocks;
            break;
        case DVDNAV_STILL_FRAME:
            dvdnav_still_skip(nav);
            break;
        case DVDNAV_WAIT:
            dvdnav_wait_skip(nav);
            break;
        case DVDNAV_NAV_PACKET:
            ++report.navPackets;
            break;
        case DVDNAV_CELL_CHANGE: {
            int32_t title = 0;
            int32_t part = 0;
            if (dvdnav_current_title_info(nav, &title, &part) == DVDNAV_STATUS_OK && title > 0) {
                if (report.titleOrder.empty() || report.titleOrder.back() != title)
                    report.titleOrder.push_back(title);
                int key = title * 1000 + part;
                if (report.partsSeen.empty() || report.partsSeen.back() != key)
                    report.partsSeen.push_back(key);
            }
            break;
        }
        default:
            break;
        }
    }
    dvdnav_close(nav);
    return report;
}

bool DescribeTitleChapters(const std::string& folder, int title, std::vector<double>& chapterStarts, double& duration) {
    std::vector<std::string> complaints;
    dvdnav_logger_cb logger{navLog};
    dvdnav_t* nav = nullptr;
    if (dvdnav_open2(&nav, &complaints, &logger, folder.c_str()) != DVDNAV_STATUS_OK)
        return false;
    uint64_t* times = nullptr;
    uint64_t total = 0;
    uint32_t count = dvdnav_describe_title_chapters(nav, title, &times, &total);
    chapterStarts.clear();
    // The library lists the end of each chapter; the start of chapter k is the end of chapter k-1.
    double previous = 0;
    for (uint32_t i = 0; i < count; ++i) {
        chapterStarts.push_back(previous);
        previous = times[i] / 90000.0;
    }
    duration = total / 90000.0;
    std::free(times);
    dvdnav_close(nav);
    return count > 0;
}
