// The built-in engine's tables: inserted-disc type names, which discs a writer can burn or erase,
// and the speed tables with the rule that names an achieved speed.
#pragma once

#include <string>
#include <vector>

// Disc type codes the engine acts on.
enum DiscTypeCode {
    kDiscDvdRom = 4,
    kDiscDvdR = 5,
    kDiscDvdRwRestricted = 7,
    kDiscDvdRwSequential = 8,
    kDiscDvdPlusRw = 9,
    kDiscDvdPlusR = 13,
    kDiscNoMedia = 14,
    kDiscDvdPlusRDl = 15,
    kDiscDvdRDl = 16,
};

// "DVD-R", "No Media", ...; "Unknown" for a code outside 0..22.
const char* DiscTypeName(int type);

// The six DVD write flags of a writer: DVD-R, DVD-RW, DVD-R DL, DVD+R, DVD+RW, DVD+R DL.
struct DvdWriteFlags {
    bool flag[6] = {false, false, false, false, false, false};
    bool Any() const;
};
bool CanSupportDisc(int type, const DvdWriteFlags& writes);
bool CanEraseDisc(int type, const DvdWriteFlags& writes);
// Rewritable kinds the burn and erase threads blank first when they hold data.
bool IsErasableKind(int type);
bool IsDualLayer(int type);

struct SpeedEntry {
    unsigned long speed; // KB/s
    std::string name;    // "8.0x"
};
const std::vector<SpeedEntry>& SpeedTableCD();
const std::vector<SpeedEntry>& SpeedTableDVD();

// Names `achieved` after the nearer of the two table entries around it (the lower on a tie) and
// appends it, unless the list holds that speed already or it lies outside the table. True when
// appended.
bool AddNamedSpeed(std::vector<SpeedEntry>& list, const std::vector<SpeedEntry>& table, unsigned long achieved);
