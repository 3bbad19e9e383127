#pragma once
// Basic types of the dialog framework: rectangles, colours, results, commands, icons.

#include <cstdint>

#define UI_API __attribute__((visibility("default")))

// Dialog results and the standard command ids.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

using COLORREF = uint32_t;  // 0x00BBGGRR
constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

// What a pixel read returns outside a client area or without a shown window.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// The colour an erased client area shows.
constexpr COLORREF COLOR_DIALOG_BACKGROUND = RGB(0xF0, 0xF0, 0xF0);

struct CRect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const CRect&) const = default;
};

enum class MessageIcon { None, Stop, Error };

// Scroll codes of a vertical track bar; 8 ends a movement.
constexpr int SB_LINEUP = 0;
constexpr int SB_LINEDOWN = 1;
constexpr int SB_PAGEUP = 2;
constexpr int SB_PAGEDOWN = 3;
constexpr int SB_THUMBPOSITION = 4;
constexpr int SB_THUMBTRACK = 5;
constexpr int SB_TOP = 6;
constexpr int SB_BOTTOM = 7;
constexpr int SB_ENDSCROLL = 8;

// System commands the framework handles itself (the low four bits are the system's own).
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;

// An icon among the program's resources; a null HICON is no icon.
struct IconResource {
  int id;
};
using HICON = const IconResource*;

// Resource id of the application icon.
constexpr int APPLICATION_ICON = 128;

// Help commands.
constexpr unsigned HELP_QUIT = 2;
constexpr unsigned HELP_CONTEXTPOPUP = 8;
constexpr unsigned HELP_FINDER = 11;

// Dialog units to pixels: MS Sans Serif 8 at 96 dpi.
constexpr int DialogUnitsToPixelsX(int du) { return du * 6 / 4; }
constexpr int DialogUnitsToPixelsY(int du) { return du * 13 / 8; }
