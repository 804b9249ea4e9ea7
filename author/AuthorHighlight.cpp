#include "AuthorHighlight.h"

#include "IfoBytes.h"

#include <cstring>

namespace {

// Offsets within the highlight information (from AUTHOR_HLI_OFFSET).
constexpr int kStatus = 0x00;       // 2 bytes, low 2 bits
constexpr int kStart = 0x02;        // highlight start time
constexpr int kEnd = 0x06;          // highlight end time
constexpr int kSelectEnd = 0x0A;    // end of button selection
constexpr int kGroupMode = 0x0E;    // number of groups (bits 13-12), display type of groups 1..3
constexpr int kButtonOffset = 0x10; // first button number: 0
constexpr int kButtonCount = 0x11;  // buttons per group
constexpr int kNumericCount = 0x12; // buttons selectable by number
constexpr int kForcedSelect = 0x14;
constexpr int kForcedActivate = 0x15;
constexpr int kColors = 0x16;  // 3 colour sets of (select, activate), 4 bytes each
constexpr int kButtons = 0x2E; // 36 button entries of 18 bytes
constexpr int kButtonSize = 18;

} // namespace

std::string AuthorHighlightProblem(const AuthorHighlight& h, int width, int height) {
    if (h.groups.empty() || h.groups.size() > 3)
        return "a menu needs 1 to 3 button groups, not " + std::to_string(h.groups.size());
    const size_t count = h.groups.front().buttons.size();
    const size_t perGroup = AUTHOR_MAX_BUTTONS / h.groups.size();
    if (count == 0 || count > perGroup)
        return "a button group holds 1 to " + std::to_string(perGroup) + " buttons, not " + std::to_string(count);
    if (h.forcedSelect < 0 || h.forcedSelect > static_cast<int>(count))
        return "the forced button " + std::to_string(h.forcedSelect) + " does not exist";
    for (size_t g = 0; g < h.groups.size(); ++g) {
        const AuthorButtonGroup& group = h.groups[g];
        const std::string where = "button group " + std::to_string(g + 1);
        if (group.buttons.size() != count)
            return where + " has " + std::to_string(group.buttons.size()) + " buttons, group 1 has " +
                   std::to_string(count);
        if (group.display < 0 || group.display > 7)
            return where + " has no valid display type";
        for (size_t b = 0; b < count; ++b) {
            const AuthorButton& button = group.buttons[b];
            const std::string which = where + " button " + std::to_string(b + 1);
            if (button.left < 0 || button.top < 0 || button.right >= width || button.bottom >= height ||
                button.left > button.right || button.top > button.bottom)
                return which + " lies outside the " + std::to_string(width) + "x" + std::to_string(height) + " picture";
            for (int to : {button.up, button.down, button.toLeft, button.toRight})
                if (to < 1 || to > static_cast<int>(count))
                    return which + " leads to the missing button " + std::to_string(to);
            if (button.colorSet < 1 || button.colorSet > 3)
                return which + " names colour set " + std::to_string(button.colorSet);
        }
    }
    return {};
}

void AuthorWriteHighlight(uint8_t* pack, const AuthorHighlight& h, bool sameAsPrevious, uint32_t start, uint32_t end) {
    uint8_t* hli = pack + AUTHOR_HLI_OFFSET;
    const int groups = static_cast<int>(h.groups.size());
    const int count = static_cast<int>(h.groups.front().buttons.size());
    IfoPut16(hli + kStatus, sameAsPrevious ? 2 : 1);
    IfoPut32(hli + kStart, start);
    IfoPut32(hli + kEnd, end);
    IfoPut32(hli + kSelectEnd, end);
    uint32_t mode = static_cast<uint32_t>(groups) << 12;
    for (int g = 0; g < groups; ++g)
        mode |= static_cast<uint32_t>(h.groups[g].display & 7) << (8 - 4 * g);
    IfoPut16(hli + kGroupMode, mode);
    hli[kButtonOffset] = 0;
    hli[kButtonCount] = static_cast<uint8_t>(count);
    hli[kNumericCount] = static_cast<uint8_t>(count);
    hli[kForcedSelect] = static_cast<uint8_t>(h.forcedSelect);
    hli[kForcedActivate] = 0;
    for (int set = 0; set < 3; ++set) {
        IfoPut32(hli + kColors + 8 * set, h.selectColors[set]);
        IfoPut32(hli + kColors + 8 * set + 4, h.activateColors[set]);
    }
    // The 36 entries are shared out evenly: with 2 groups, entries 1..18 belong to group 1.
    const int perGroup = AUTHOR_MAX_BUTTONS / groups;
    std::memset(hli + kButtons, 0, AUTHOR_MAX_BUTTONS * kButtonSize);
    for (int g = 0; g < groups; ++g) {
        for (int b = 0; b < count; ++b) {
            const AuthorButton& button = h.groups[g].buttons[b];
            uint8_t* e = hli + kButtons + kButtonSize * (perGroup * g + b);
            // colour set (2 bits), x start (10), 0 (2), x end (10); auto action (2), y start (10), 0 (2), y end (10)
            const uint32_t x = (static_cast<uint32_t>(button.colorSet & 3) << 22) |
                               (static_cast<uint32_t>(button.left & 0x3FF) << 12) |
                               static_cast<uint32_t>(button.right & 0x3FF);
            const uint32_t y = (static_cast<uint32_t>(button.autoAction ? 1 : 0) << 22) |
                               (static_cast<uint32_t>(button.top & 0x3FF) << 12) |
                               static_cast<uint32_t>(button.bottom & 0x3FF);
            e[0] = static_cast<uint8_t>(x >> 16);
            e[1] = static_cast<uint8_t>(x >> 8);
            e[2] = static_cast<uint8_t>(x);
            e[3] = static_cast<uint8_t>(y >> 16);
            e[4] = static_cast<uint8_t>(y >> 8);
            e[5] = static_cast<uint8_t>(y);
            e[6] = static_cast<uint8_t>(button.up & 0x3F);
            e[7] = static_cast<uint8_t>(button.down & 0x3F);
            e[8] = static_cast<uint8_t>(button.toLeft & 0x3F);
            e[9] = static_cast<uint8_t>(button.toRight & 0x3F);
            std::memcpy(e + 10, button.command.data(), 8);
        }
    }
}
