#include "AuthorToc.h"

#include "AuthorError.h"
#include "AuthorLog.h"
#include "IfoTables.h"
#include "NavPackFix.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kLastManagerSector = 0x00C;
constexpr int kLastIfoSector = 0x01C;
constexpr int kVersion = 0x021;
constexpr int kVolumes = 0x026;
constexpr int kVolumeNumber = 0x028;
constexpr int kSide = 0x02A;
constexpr int kTitleSets = 0x03E;
constexpr int kProvider = 0x040;
constexpr int kHeaderEndByte = 0x080;
constexpr int kFirstPlayByte = 0x084;
constexpr int kMenuVobSector = 0x0C0;
constexpr int kTitleSearchSector = 0x0C4;
constexpr int kMenuPgciUtSector = 0x0C8;
constexpr int kAttributeTableSector = 0x0D0;
constexpr int kMenuCadtSector = 0x0D8;
constexpr int kMenuAdmapSector = 0x0DC;
constexpr int kMenuAttributes = 0x100;
constexpr int kFirstPlayPgc = 0x400;
constexpr int kPgcCommandTable = 0xEC;
constexpr uint32_t kMaxTitles = 99;    // per title set
constexpr uint32_t kMaxChapters = 999; // per title
// The first-play PGC must end inside the header sector.
constexpr int kMaxFirstPlayCommands = (DVD_SECTOR - kFirstPlayPgc - kPgcCommandTable - 8) / 8;

std::vector<uint8_t> titleSearchTable(const std::vector<AuthorTitleSetSummary>& sets, uint32_t firstSetSector) {
    IfoTable table;
    size_t titles = 0;
    table.at(0, 8);
    uint32_t start = firstSetSector;
    for (size_t s = 0; s < sets.size(); ++s) {
        for (size_t t = 0; t < sets[s].chapters.size(); ++t) {
            size_t at = 8 + 12 * titles++;
            table.put8(at, 0x3C);
            table.put8(at + 1, 1);
            table.put16(at + 2, static_cast<uint32_t>(sets[s].chapters[t]));
            table.put16(at + 4, 0);
            table.put8(at + 6, static_cast<uint32_t>(s + 1));
            table.put8(at + 7, static_cast<uint32_t>(t + 1));
            table.put32(at + 8, start);
        }
        start += sets[s].sectors;
    }
    table.put16(0, static_cast<uint32_t>(titles));
    table.put32(4, static_cast<uint32_t>(table.size() - 1));
    return table.bytes();
}

std::vector<uint8_t> attributeTable(const std::vector<AuthorTitleSetSummary>& sets) {
    const size_t n = sets.size();
    IfoTable table;
    table.put16(0, static_cast<uint32_t>(n));
    table.put32(4, static_cast<uint32_t>(780 * n + 7));
    for (size_t i = 0; i < n; ++i) {
        size_t entry = 8 + 4 * n + 776 * i;
        table.put32(8 + 4 * i, static_cast<uint32_t>(entry));
        table.put32(entry, 775);
        std::memcpy(table.at(entry + 4, 4), sets[i].category, 4);
        std::memcpy(table.at(entry + 8, 768), sets[i].attributes, 768);
    }
    return table.bytes();
}

} // namespace

AuthorCommand AuthorFirstPlayCommand(bool managerHasMenus, bool firstSetHasMenus, bool haveTitleSets) {
    if (managerHasMenus)
        return {0x30, 0x06, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00}; // the video manager's title menu
    if (haveTitleSets && firstSetHasMenus)
        return {0x30, 0x06, 0x00, 0x01, 0x01, 0x83, 0x00, 0x00}; // title set 1's root menu
    return {0x30, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};     // title 1
}

AuthorTitleSetSummary AuthorReadTitleSet(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        AuthorFatal("ERR:  cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    uint8_t sectors[2 * DVD_SECTOR];
    size_t got = std::fread(sectors, 1, sizeof sectors, file);
    std::fclose(file);
    const uint8_t* header = sectors;
    const uint8_t* chapters = sectors + DVD_SECTOR;
    uint32_t titles = got == sizeof sectors ? IfoGet16(chapters) : 0;
    // A title set holds at most 99 titles (their offsets then lie inside the chapter table's first
    // sector), a title at most 999 chapters: the table of contents has no room for more.
    if (got != sizeof sectors || std::memcmp(header, "DVDVIDEO-VTS", 12) != 0 || titles == 0 || titles > kMaxTitles)
        AuthorFatal("ERR:  %s is not a title set information file\n", path.c_str());

    AuthorTitleSetSummary summary;
    summary.sectors = IfoGet32(header + 0x00C) + 1;
    summary.hasMenus = IfoGet32(header + 0x0C0) != 0;
    std::memcpy(summary.category, header + 0x022, 4);
    std::memcpy(summary.attributes, header + 0x100, 768);
    uint32_t end = IfoGet32(chapters + 4);
    for (uint32_t t = 0; t < titles; ++t) {
        uint32_t offset = IfoGet32(chapters + 8 + 4 * t);
        uint32_t following = t + 1 < titles ? IfoGet32(chapters + 8 + 4 * (t + 1)) : end + 1;
        if (following < offset || (following - offset) / 4 > kMaxChapters)
            AuthorFatal("ERR:  %s is not a title set information file\n", path.c_str());
        summary.chapters.push_back(static_cast<int>((following - offset) / 4));
    }
    return summary;
}

std::vector<uint8_t> IfoVideoManagerFile(const std::vector<AuthorCommand>& firstPlayCommands,
                                         const AuthorMenuList& menus, const PgcGroup* menuGroup,
                                         const std::vector<AuthorTitleSetSummary>& titleSets) {
    if (firstPlayCommands.size() > static_cast<size_t>(kMaxFirstPlayCommands))
        AuthorFatal("ERR:  FPC has too many commands (%d, %d allowed)\n", static_cast<int>(firstPlayCommands.size()),
                    kMaxFirstPlayCommands);
    std::vector<uint8_t> menuPgciUt = menuGroup ? IfoMenuTable(IfoSharedWorkBuffer(), menus) : std::vector<uint8_t>();
    std::vector<uint8_t> menuCadt = menuGroup ? IfoCellAddressTable(*menuGroup) : std::vector<uint8_t>();
    std::vector<uint8_t> menuAdmap = menuGroup ? IfoVobuAddressMap(*menuGroup) : std::vector<uint8_t>();
    // Title search pointers count sectors from the start of the video manager, so their size comes first.
    const uint32_t searchSectors = IfoSectors(8 + 12 * [&] {
        size_t n = 0;
        for (const AuthorTitleSetSummary& set : titleSets)
            n += set.chapters.size();
        return n;
    }());
    std::vector<uint8_t> attributes = attributeTable(titleSets);
    const uint32_t ifoSectors = 1 + searchSectors + IfoSectors(menuPgciUt.size()) + IfoSectors(attributes.size()) +
                                IfoSectors(menuCadt.size()) + IfoSectors(menuAdmap.size());
    const uint32_t menuSectors = menuGroup ? static_cast<uint32_t>(AuthorGroupSectors(*menuGroup)) : 0;
    std::vector<uint8_t> search = titleSearchTable(titleSets, 2 * ifoSectors + menuSectors);

    IfoSectorPlacer placer;
    uint32_t searchAt = placer.Place(search);
    uint32_t menuPgciUtAt = placer.Place(menuPgciUt);
    uint32_t attributesAt = placer.Place(attributes);
    uint32_t menuCadtAt = placer.Place(menuCadt);
    uint32_t menuAdmapAt = placer.Place(menuAdmap);

    std::vector<uint8_t> file(DVD_SECTOR, 0);
    uint8_t* h = file.data();
    std::memcpy(h, "DVDVIDEO-VMG", 12);
    IfoPut32(h + kLastManagerSector, 2 * ifoSectors + menuSectors - 1);
    IfoPut32(h + kLastIfoSector, ifoSectors - 1);
    h[kVersion] = 0x11;
    IfoPut16(h + kVolumes, 1);
    IfoPut16(h + kVolumeNumber, 1);
    h[kSide] = 1;
    IfoPut16(h + kTitleSets, static_cast<uint32_t>(titleSets.size()));
    std::strncpy(reinterpret_cast<char*>(h + kProvider), "QX DVD Author", 31);
    const uint32_t commandEnd = 8 * static_cast<uint32_t>(firstPlayCommands.size()) + 7;
    IfoPut32(h + kHeaderEndByte, kFirstPlayPgc + kPgcCommandTable + commandEnd);
    IfoPut32(h + kFirstPlayByte, kFirstPlayPgc);
    IfoPut32(h + kMenuVobSector, menuGroup ? ifoSectors : 0);
    IfoPut32(h + kTitleSearchSector, searchAt);
    IfoPut32(h + kMenuPgciUtSector, menuPgciUtAt);
    IfoPut32(h + kAttributeTableSector, attributesAt);
    IfoPut32(h + kMenuCadtSector, menuCadtAt);
    IfoPut32(h + kMenuAdmapSector, menuAdmapAt);
    if (menuGroup)
        AuthorWriteAttributeBlock(h + kMenuAttributes, menus.attributes);

    // First-play PGC: no programs or cells, playback time 0 with the 30 fps flag, pre-commands only.
    uint8_t* pgc = h + kFirstPlayPgc;
    pgc[7] = 0xC0;
    IfoPut16(pgc + 0xE4, kPgcCommandTable);
    uint8_t* commands = pgc + kPgcCommandTable;
    IfoPut16(commands, static_cast<uint32_t>(firstPlayCommands.size()));
    IfoPut16(commands + 6, commandEnd);
    for (size_t i = 0; i < firstPlayCommands.size(); ++i)
        std::memcpy(commands + 8 + 8 * i, firstPlayCommands[i].data(), 8);

    for (const std::vector<uint8_t>* table : {&search, &menuPgciUt, &attributes, &menuCadt, &menuAdmap})
        IfoAppendPadded(file, *table);
    return file;
}

void CreateToc(const ProgramChain* firstPlay, AuthorMenuList& menus, const std::string& outputFolder, int numTitleSets,
               const AuthorRunOptions& options) {
    AuthorFileOpener& files = options.files ? *options.files : AuthorDiskFiles();
    std::vector<ProgramChain*> allPgcs;
    for (AuthorMenuLanguage& language : menus.languages)
        if (language.group) {
            AuthorCheckGroup(*language.group);
            AuthorCollectSources(*language.group, allPgcs);
        }
    AuthorResolveColors(allPgcs);
    AuthorLog(AUTHOR_LOG_WARN, "INFO: QX DVD Author creating table of contents\n");
    const std::string videoFolder = outputFolder + "/VIDEO_TS";

    // Title sets must be numbered 1, 2, ... without a gap.
    std::vector<std::string> slots(100);
    for (int n = 1; n <= numTitleSets && n <= 99; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", n);
        slots[n] = name;
    }
    std::vector<AuthorTitleSetSummary> titleSets;
    bool ended = false;
    for (int n = 1; n <= 99; ++n) {
        if (slots[n].empty()) {
            ended = true;
            continue;
        }
        if (ended)
            AuthorFatal("ERR:  Titleset #%d (%s) does not immediately follow the last titleset\n", n, slots[n].c_str());
        std::string path = videoFolder + "/" + slots[n];
        AuthorLog(AUTHOR_LOG_WARN, "INFO: Scanning %s\n", path.c_str());
        titleSets.push_back(AuthorReadTitleSet(path));
    }
    if (titleSets.empty())
        AuthorFatal("ERR:  No .IFO files to process\n");

    PgcGroup* menuGroup = IfoMenuGroup(menus);
    if (menuGroup) {
        AuthorLog(AUTHOR_LOG_WARN, "INFO: Creating menu for TOC\n");
        AuthorScanOptions scan;
        scan.partFiles = options.partFiles;
        scan.files = options.files;
        const std::string vobName = videoFolder + "/VIDEO_TS.VOB";
        ScanGroup(vobName, *menuGroup, GROUP_VMG_MENUS, scan);
        AuthorBuildCells(*menuGroup);
        AuthorCompleteGroup(*menuGroup, GROUP_VMG_MENUS);
        menus.attributes = menuGroup->attributes;
        AuthorLog(AUTHOR_LOG_WARN, "\n");
        AuthorNavFixOptions fix; // no progress: the bar has reached the end of the titles
        fix.files = options.files;
        FixNavPacks(vobName, *menuGroup, GROUP_VMG_MENUS, fix);
    }

    std::vector<AuthorCommand> firstPlayCommands;
    if (firstPlay) {
        if (!firstPlay->postCommands.empty() || !firstPlay->sources.empty() || firstPlay->entries != 0)
            AuthorFatal("ERR:  FPC can ONLY contain prei commands, nothing else\n");
        firstPlayCommands = firstPlay->preCommands;
    } else {
        firstPlayCommands.push_back(AuthorFirstPlayCommand(menuGroup != nullptr, titleSets.front().hasMenus, true));
    }
    std::vector<uint8_t> ifo = IfoVideoManagerFile(firstPlayCommands, menus, menuGroup, titleSets);
    AuthorWriteWholeFile(files, videoFolder + "/VIDEO_TS.IFO", ifo);
    AuthorWriteWholeFile(files, videoFolder + "/VIDEO_TS.BUP", ifo);
    if (options.progress)
        options.progress(2, 100);
}
