#include "DeviceTables.h"

#include <algorithm>

const char* DiscTypeName(int type) {
    static const char* const names[] = {"Unknown", "CDROM",  "CD-R",       "CD-RW",    "DVD-ROM",  "DVD-R",
                                        "DVD-RAM", "DVD-RW", "DVD-RW",     "DVD+RW",   "CDROM",    "CD-R",
                                        "CD-RW",   "DVD+R",  "No Media",   "DVD+R DL", "DVD-R DL", "BD-ROM",
                                        "BD-R",    "BD-RE",  "HD-DVD ROM", "HD-DVD R", "HD-DVD RW"};
    if (type < 0 || type >= static_cast<int>(sizeof names / sizeof names[0])) {
        return "Unknown";
    }
    return names[type];
}

bool DvdWriteFlags::Any() const {
    return std::any_of(std::begin(flag), std::end(flag), [](bool f) { return f; });
}

bool CanSupportDisc(int type, const DvdWriteFlags& w) {
    switch (type) {
    case kDiscDvdR:
        return w.flag[0];
    case kDiscDvdRwRestricted:
    case kDiscDvdRwSequential:
        return w.flag[1];
    case kDiscDvdRDl:
        return w.flag[2];
    case kDiscDvdPlusR:
        return w.flag[3];
    case kDiscDvdPlusRw:
        return w.flag[4];
    case kDiscDvdPlusRDl:
        return w.flag[5];
    default:
        return false;
    }
}

bool CanEraseDisc(int type, const DvdWriteFlags& w) {
    return ((type == kDiscDvdRwRestricted || type == kDiscDvdRwSequential) && w.flag[1]) ||
           (type == kDiscDvdPlusRw && w.flag[4]);
}

bool IsErasableKind(int type) {
    return type == kDiscDvdRwRestricted || type == kDiscDvdRwSequential || type == kDiscDvdPlusRw;
}

bool IsDualLayer(int type) {
    return type == kDiscDvdPlusRDl || type == kDiscDvdRDl;
}

const std::vector<SpeedEntry>& SpeedTableCD() {
    // 8x is 1400, not 1411, and 20x is 3250, not 3528: the values the writers report.
    static const std::vector<SpeedEntry> table = {{176, "1.0x"},   {353, "2.0x"},   {387, "2.2x"},   {528, "3.0x"},
                                                  {706, "4.0x"},   {1400, "8.0x"},  {1760, "10.0x"}, {2112, "12.0x"},
                                                  {2800, "16.0x"}, {3250, "20.0x"}, {4224, "24.0x"}, {5632, "32.0x"},
                                                  {7040, "40.0x"}, {7744, "44.0x"}, {8448, "48.0x"}, {9152, "52.0x"}};
    return table;
}

const std::vector<SpeedEntry>& SpeedTableDVD() {
    static const std::vector<SpeedEntry> table = {{1385, "1.0x"},   {2770, "2.0x"},  {3324, "2.4x"}, {4155, "3.0x"},
                                                  {5540, "4.0x"},   {6925, "5.0x"},  {8310, "6.0x"}, {11080, "8.0x"},
                                                  {16620, "12.0x"}, {22160, "16.0x"}};
    return table;
}

bool AddNamedSpeed(std::vector<SpeedEntry>& list, const std::vector<SpeedEntry>& table, unsigned long achieved) {
    for (size_t i = 0; i + 1 < table.size(); ++i) {
        const unsigned long low = table[i].speed, high = table[i + 1].speed;
        if (achieved < low || achieved > high) {
            continue;
        }
        if (std::any_of(list.begin(), list.end(), [&](const SpeedEntry& e) { return e.speed == achieved; })) {
            return false;
        }
        list.push_back({achieved, achieved - low <= high - achieved ? table[i].name : table[i + 1].name});
        return true;
    }
    return false;
}
