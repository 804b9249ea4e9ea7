#include "DvdCommands.h"

namespace {

constexpr uint8_t kCompareImmediate = 0x80; // byte 1: compare with the value in bytes 4-5
constexpr uint8_t kCompareEqual = 0x20;     // byte 1: compare operation 2, "=="
constexpr uint8_t kLinkPgc = 0x04;          // byte 1: link kind 4, LinkPGCN (PGC number in bytes 6-7)
constexpr uint8_t kGoto = 0x01;             // byte 1: special command 1, Goto (line in byte 7)
constexpr uint8_t kTitleMenu = 0x42;        // byte 5 of JumpSS/CallSS: video manager menu (01), title menu (2)

uint8_t hi(int v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}

uint8_t lo(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

uint8_t reg4(int reg) {
    return static_cast<uint8_t>(reg & 0x0F);
}

uint8_t pgc15(int pgcn) {
    return static_cast<uint8_t>((pgcn >> 8) & 0x7F);
}

} // namespace

AuthorCommand AuthorCmdSetGprm(int reg, uint16_t value) {
    // Group 3, immediate source (0x10), operation 1 "mov"; destination register in byte 3.
    return {0x71, 0x00, 0x00, reg4(reg), hi(value), lo(value), 0x00, 0x00};
}

AuthorCommand AuthorCmdSetGprmLinkPgc(int reg, uint16_t value, int pgcn) {
    // The same "mov", with the link in the low nibble of byte 1 and its PGC number in bytes 6-7.
    return {0x71, kLinkPgc, 0x00, reg4(reg), hi(value), lo(value), pgc15(pgcn), lo(pgcn)};
}

AuthorCommand AuthorCmdLinkPgc(int pgcn) {
    // Group 1 link (0x20) without a compare.
    return {0x20, kLinkPgc, 0x00, 0x00, 0x00, 0x00, pgc15(pgcn), lo(pgcn)};
}

AuthorCommand AuthorCmdIfGprmLinkPgc(int reg, uint16_t value, int pgcn) {
    // Group 1 link; the compared register is in byte 3, the immediate value in bytes 4-5.
    return {0x20,        static_cast<uint8_t>(kCompareImmediate | kCompareEqual | kLinkPgc),
            0x00,        reg4(reg),
            hi(value),   lo(value),
            pgc15(pgcn), lo(pgcn)};
}

AuthorCommand AuthorCmdIfGprmGoto(int reg, uint16_t value, int line) {
    // Group 0 (special); the compare is laid out as in a link.
    return {0x00,      static_cast<uint8_t>(kCompareImmediate | kCompareEqual | kGoto),
            0x00,      reg4(reg),
            hi(value), lo(value),
            0x00,      lo(line)};
}

AuthorCommand AuthorCmdSelectButtonFromGprm(int reg) {
    // Group 2 (set system register) without the immediate bit, operation 6 SetHL_BTNN; the source
    // register in byte 5.
    return {0x46, 0x00, 0x00, 0x00, 0x00, reg4(reg), 0x00, 0x00};
}

AuthorCommand AuthorCmdJumpTitle(int title) {
    // Group 1 jump (0x30), kind 2 JumpTT; title number in byte 5.
    return {0x30, 0x02, 0x00, 0x00, 0x00, lo(title & 0x7F), 0x00, 0x00};
}

AuthorCommand AuthorCmdJumpTitleInSet(int title) {
    // Kind 3 JumpVTS_TT: the title number counts within the current title set.
    return {0x30, 0x03, 0x00, 0x00, 0x00, lo(title & 0x7F), 0x00, 0x00};
}

AuthorCommand AuthorCmdJumpTitleMenu() {
    // Kind 6 JumpSS (system space): the video manager's title menu.
    return {0x30, 0x06, 0x00, 0x00, 0x00, kTitleMenu, 0x00, 0x00};
}

AuthorCommand AuthorCmdCallTitleMenu(int resumeCell) {
    // Kind 8 CallSS: as JumpSS, and the player keeps where to resume (byte 4: the cell).
    return {0x30, 0x08, 0x00, 0x00, lo(resumeCell), kTitleMenu, 0x00, 0x00};
}
