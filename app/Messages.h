// Private window messages of the main window. Worker threads and other windows send them
// synchronously: the handler runs on the window's thread while the sender waits.
#pragma once

#include <cstdint>

constexpr unsigned WM_PROBE_FILE = 1124;     // wParam: const char* path
constexpr unsigned WM_ADD_SOURCE_ROW = 1125; // wParam: heap RowRecord*, freed by the handler
constexpr unsigned WM_SHOW_LOADING = 1126;
constexpr unsigned WM_HIDE_LOADING = 1127;
constexpr unsigned WM_CONVERT_BEGIN = 1128; // wParam: row
constexpr unsigned WM_CONVERT_END = 1129;   // wParam: row
constexpr unsigned WM_CONVERT_ALL_DONE = 1130;
constexpr unsigned WM_CONVERT_RESULT = 1131; // wParam: row, lParam: 1 converted, 0 failed
constexpr unsigned WM_WRITER_LIST = 1132;    // wParam: heap std::vector<std::string>*, freed by the handler
constexpr unsigned WM_PROGRESS_TEXT = 1134;  // wParam: heap std::string*, freed by the handler; lParam: percent
constexpr unsigned WM_STOP_BURN = 1135;
constexpr unsigned WM_STOP_CONVERT = 5119;

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
