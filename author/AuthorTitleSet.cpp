#include "AuthorTitleSet.h"

#include "AuthorError.h"
#include "AuthorLog.h"
#include "NavPackFix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Header fields of the title-set information file.
constexpr int kLastSetSector = 0x00C;
constexpr int kLastIfoSector = 0x01C;
constexpr int kVersion = 0x021;
constexpr int kHeaderEndByte = 0x080;
constexpr int kMenuVobSector = 0x0C0;
constexpr int kTitleVobSector = 0x0C4;
constexpr int kPttSector = 0x0C8;
constexpr int kPgcitSector = 0x0CC;
constexpr int kMenuPgciUtSector = 0x0D0;
constexpr int kTmapSector = 0x0D4;
constexpr int kMenuCadtSector = 0x0D8;
constexpr int kMenuAdmapSector = 0x0DC;
constexpr int kCadtSector = 0x0E0;
constexpr int kAdmapSector = 0x0E4;
constexpr int kMenuAttributes = 0x100;
constexpr int kTitleAttributes = 0x200;

// The play cell (index into `cells`) and VOBU that play `time` ticks into the PGC.
void vobuAtPgcTime(const std::vector<AuthorPlayCell>& cells, long long time, size_t& cellIndex, int& vobu) {
    long long before = 0;
    cellIndex = cells.size() - 1;
    for (size_t c = 0; c < cells.size(); ++c) {
        long long duration = AuthorCellDuration(*cells[c].source, cells[c].cellId);
        if (time < before + duration) {
            cellIndex = c;
            break;
        }
        if (c + 1 < cells.size())
            before += duration;
    }
    const AuthorSource& source = *cells[cellIndex].source;
    const AuthorCellRange& range = source.cells[cells[cellIndex].cellId - 1];
    long long sourceTime = source.vobus[range.firstVobu].vobuStart - source.vobus.front().vobuStart + (time - before);
    vobu = std::clamp(AuthorFindVobu(source, sourceTime), range.firstVobu, range.lastVobu);
}

} // namespace

void IfoTimeMapShape(long long seconds, int& unit, int& entries) {
    unit = seconds == 0 ? 1 : static_cast<int>((seconds + 2039) / 2040);
    entries = static_cast<int>(std::min<long long>(seconds / unit, 2040));
}

std::vector<uint8_t> IfoChapterTable(const PgcGroup& titles) {
    IfoTable table;
    const size_t count = titles.pgcs.size();
    table.put16(0, static_cast<uint32_t>(count));
    size_t pos = 8 + 4 * count;
    table.at(0, pos);
    for (size_t t = 0; t < count; ++t) {
        table.put32(8 + 4 * t, static_cast<uint32_t>(pos));
        int program = 1;
        for (const AuthorSourceRef& ref : titles.pgcs[t]->sources)
            for (const AuthorCellSpec& spec : ref.cells) {
                if (spec.endCell <= spec.firstCell || spec.chapterMark == 0)
                    continue;
                if (spec.chapterMark == 1) {
                    table.put16(pos, static_cast<uint32_t>(t + 1));
                    table.put16(pos + 2, static_cast<uint32_t>(program));
                    pos += 4;
                }
                ++program;
            }
    }
    table.put32(4, static_cast<uint32_t>(table.size() - 1));
    return table.bytes();
}

std::vector<uint8_t> IfoTimeMapTable(const PgcGroup& titles) {
    const int rate = titles.attributes.video.frameRate;
    const long long clock = AuthorFrameClock(rate);
    const long long frame = AuthorFrameDuration(rate);
    const size_t count = titles.pgcs.size();
    IfoTable table;
    table.put16(0, static_cast<uint32_t>(count));
    size_t pos = 8 + 4 * count;
    table.at(0, pos);
    for (size_t t = 0; t < count; ++t) {
        const ProgramChain& pgc = *titles.pgcs[t];
        std::vector<AuthorPlayCell> cells = AuthorPlayCells(pgc);
        int unit = 1;
        int entries = 0;
        IfoTimeMapShape(AuthorTicksToSeconds(AuthorPgcDuration(pgc), rate), unit, entries);
        if (cells.empty())
            entries = 0;
        table.put32(8 + 4 * t, static_cast<uint32_t>(pos));
        table.put8(pos, static_cast<uint32_t>(unit));
        table.put16(pos + 2, static_cast<uint32_t>(entries));
        std::vector<size_t> cellOf(entries);
        std::vector<uint32_t> sectors(entries);
        for (int k = 1; k <= entries; ++k) {
            int vobu = 0;
            vobuAtPgcTime(cells, k * unit * clock - frame, cellOf[k - 1], vobu);
            sectors[k - 1] = static_cast<uint32_t>(cells[cellOf[k - 1]].source->vobus[vobu].firstSector);
        }
        for (int k = 0; k < entries; ++k) {
            bool nextInOtherCell = k + 1 < entries && cellOf[k + 1] != cellOf[k];
            table.put32(pos + 4 + 4 * k, sectors[k] | (nextInOtherCell ? 0x80000000u : 0));
        }
        pos += 4 + 4 * static_cast<size_t>(entries);
        table.at(0, pos);
    }
    table.put32(4, static_cast<uint32_t>(table.size() - 1));
    return table.bytes();
}

std::vector<uint8_t> IfoTitleSetFile(const AuthorMenuList& menus, const PgcGroup* menuGroup, const PgcGroup& titles,
                                     IfoWorkBuffer& work) {
    std::vector<uint8_t> ptt = IfoChapterTable(titles);
    std::vector<uint8_t> pgcit =
        IfoPgcTable(work, titles, [](size_t index, const ProgramChain&) { return static_cast<uint8_t>(0x81 + index); });
    std::vector<uint8_t> menuPgciUt = menuGroup ? IfoMenuTable(work, menus) : std::vector<uint8_t>();
    std::vector<uint8_t> tmap = IfoTimeMapTable(titles);
    std::vector<uint8_t> menuCadt = menuGroup ? IfoCellAddressTable(*menuGroup) : std::vector<uint8_t>();
    std::vector<uint8_t> menuAdmap = menuGroup ? IfoVobuAddressMap(*menuGroup) : std::vector<uint8_t>();
    std::vector<uint8_t> cadt = IfoCellAddressTable(titles);
    std::vector<uint8_t> admap = IfoVobuAddressMap(titles);

    // Sector of each table, in file order.
    IfoSectorPlacer placer;
    uint32_t pttAt = placer.Place(ptt);
    uint32_t pgcitAt = placer.Place(pgcit);
    uint32_t menuPgciUtAt = placer.Place(menuPgciUt);
    uint32_t tmapAt = placer.Place(tmap);
    uint32_t menuCadtAt = placer.Place(menuCadt);
    uint32_t menuAdmapAt = placer.Place(menuAdmap);
    uint32_t cadtAt = placer.Place(cadt);
    uint32_t admapAt = placer.Place(admap);
    const uint32_t ifoSectors = placer.next();
    const uint32_t menuSectors = menuGroup ? static_cast<uint32_t>(AuthorGroupSectors(*menuGroup)) : 0;
    const uint32_t titleSectors = static_cast<uint32_t>(AuthorGroupSectors(titles));

    std::vector<uint8_t> file(DVD_SECTOR, 0);
    uint8_t* h = file.data();
    std::memcpy(h, "DVDVIDEO-VTS", 12);
    IfoPut32(h + kLastSetSector, ifoSectors + menuSectors + titleSectors + ifoSectors - 1);
    IfoPut32(h + kLastIfoSector, ifoSectors - 1);
    h[kVersion] = 0x11;
    IfoPut32(h + kHeaderEndByte, DVD_SECTOR - 1);
    IfoPut32(h + kMenuVobSector, menuGroup ? ifoSectors : 0);
    IfoPut32(h + kTitleVobSector, ifoSectors + menuSectors);
    IfoPut32(h + kPttSector, pttAt);
    IfoPut32(h + kPgcitSector, pgcitAt);
    IfoPut32(h + kMenuPgciUtSector, menuPgciUtAt);
    IfoPut32(h + kTmapSector, tmapAt);
    IfoPut32(h + kMenuCadtSector, menuCadtAt);
    IfoPut32(h + kMenuAdmapSector, menuAdmapAt);
    IfoPut32(h + kCadtSector, cadtAt);
    IfoPut32(h + kAdmapSector, admapAt);
    if (menuGroup)
        AuthorWriteAttributeBlock(h + kMenuAttributes, menus.attributes);
    AuthorWriteAttributeBlock(h + kTitleAttributes, titles.attributes);

    for (const std::vector<uint8_t>* table : {&ptt, &pgcit, &menuPgciUt, &tmap, &menuCadt, &menuAdmap, &cadt, &admap})
        IfoAppendPadded(file, *table);
    return file;
}

int CreateTitleSet(AuthorMenuList& menus, PgcGroup& titles, const std::string& outputFolder,
                   const AuthorRunOptions& options) {
    AuthorFileOpener& files = options.files ? *options.files : AuthorDiskFiles();
    const std::string videoFolder = outputFolder + "/VIDEO_TS";
    AuthorLog(AUTHOR_LOG_WARN, "INFO: QX DVD Author creating VTS\n");
    AuthorMakeFolder(outputFolder);
    AuthorMakeFolder(videoFolder);
    AuthorMakeFolder(outputFolder + "/AUDIO_TS");

    std::vector<ProgramChain*> allPgcs;
    for (AuthorMenuLanguage& language : menus.languages)
        if (language.group) {
            AuthorCheckGroup(*language.group);
            AuthorCollectSources(*language.group, allPgcs);
        }
    AuthorCheckGroup(titles);
    AuthorCollectSources(titles, allPgcs);
    AuthorResolveColors(allPgcs);
    if (titles.pgcs.empty())
        AuthorFatal("ERR:  no titles defined\n");

    // The first number whose information file is not there yet (in any letter case).
    int number = 1;
    char name[32];
    while (number <= 99) {
        std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", number);
        if (!AuthorFileExistsNoCase(videoFolder, name))
            break;
        ++number;
    }
    // A 100th title set cannot be named or played; refuse it rather than write VTS_100.
    if (number > 99)
        AuthorFatal("ERR:  No free title set number in %s (99 are in use)\n", videoFolder.c_str());
    AuthorLog(AUTHOR_LOG_WARN, "STAT: Picking VTS %02d\n", number);
    char base[16];
    std::snprintf(base, sizeof base, "/VTS_%02d", number);
    const std::string baseName = videoFolder + base;

    AuthorScanOptions scan;
    scan.partFiles = options.partFiles;
    scan.progress = options.progress;
    scan.files = options.files;
    scan.vobSectorLimit = options.vobSectorLimit;

    PgcGroup* menuGroup = IfoMenuGroup(menus);
    if (menuGroup) {
        ScanGroup(baseName, *menuGroup, GROUP_TITLE_MENUS, scan);
        AuthorBuildCells(*menuGroup);
        AuthorCompleteGroup(*menuGroup, GROUP_TITLE_MENUS);
        menus.attributes = menuGroup->attributes;
    }
    ScanGroup(baseName, titles, GROUP_TITLES, scan);
    AuthorBuildCells(titles);
    AuthorCompleteGroup(titles, GROUP_TITLES);
    if (!menuGroup) {
        AuthorVideoAttributes& menuVideo = menus.attributes.video;
        const AuthorVideoAttributes& titleVideo = titles.attributes.video;
        menuVideo.mpegFormat = titleVideo.mpegFormat;
        menuVideo.resolution = titleVideo.resolution;
        menuVideo.tvFormat = titleVideo.tvFormat;
        menuVideo.aspect = titleVideo.aspect;
        menuVideo.disallow = titleVideo.disallow;
        menuVideo.frameRate = titleVideo.frameRate;
        menuVideo.caption = titleVideo.caption;
    }

    AuthorLog(AUTHOR_LOG_WARN, "\n");
    std::vector<uint8_t> ifo = IfoTitleSetFile(menus, menuGroup, titles, IfoSharedWorkBuffer());
    AuthorWriteWholeFile(files, baseName + "_0.IFO", ifo);
    AuthorWriteWholeFile(files, baseName + "_0.BUP", ifo);

    AuthorNavFixOptions fix;
    fix.files = options.files;
    // The few packs of the menus are fixed without a progress report of their own, so that the
    // bar runs once from 0 to 100 over the titles.
    if (menuGroup)
        FixNavPacks(baseName, *menuGroup, GROUP_TITLE_MENUS, fix);
    fix.progress = options.progress;
    FixNavPacks(baseName, titles, GROUP_TITLES, fix);
    return number;
}
