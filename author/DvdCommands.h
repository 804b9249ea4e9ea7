// Navigation commands of the DVD virtual machine, 8 bytes each, for program chains (pre- and
// post-commands) and menu buttons. Each function says what the player does when it runs the command.
//
// Byte 0 holds the command group in its top three bits: 0 special (goto), 1 link and jump, 2 set
// system register, 3 set general register (optionally followed by a link). Byte 1 holds the compare
// operation (bits 6..4, bit 7 = compare with an immediate value) and the link or branch kind
// (bits 3..0). General registers GPRM0..15 keep their values across domains.
#pragma once

#include "ProgramChain.h"

#include <cstdint>

// The highlighted-button register (SPRM8) holds the button number times 1024.
constexpr uint16_t AUTHOR_BUTTON_UNIT = 1024;

// GPRMr = value.
AuthorCommand AuthorCmdSetGprm(int reg, uint16_t value);
// GPRMr = value, then link to program chain `pgcn` of the same domain.
AuthorCommand AuthorCmdSetGprmLinkPgc(int reg, uint16_t value, int pgcn);
// Link to program chain `pgcn` of the same domain.
AuthorCommand AuthorCmdLinkPgc(int pgcn);
// If GPRMr == value, link to program chain `pgcn`; otherwise go on with the next command.
AuthorCommand AuthorCmdIfGprmLinkPgc(int reg, uint16_t value, int pgcn);
// If GPRMr == value, go on at command `line` (1-based) of the same command list.
AuthorCommand AuthorCmdIfGprmGoto(int reg, uint16_t value, int line);
// Highlighted button (SPRM8) = GPRMr, which holds button number * 1024.
AuthorCommand AuthorCmdSelectButtonFromGprm(int reg);
// Jump to title `title` of the disc (from first play, a menu of either domain, or a title).
AuthorCommand AuthorCmdJumpTitle(int title);
// Jump to title `title` of the current title set (from a title of that set).
AuthorCommand AuthorCmdJumpTitleInSet(int title);
// Jump to the video manager's title menu (from first play or a menu).
AuthorCommand AuthorCmdJumpTitleMenu();
// Call the video manager's title menu from a title; a later resume starts at cell `resumeCell`.
AuthorCommand AuthorCmdCallTitleMenu(int resumeCell);
