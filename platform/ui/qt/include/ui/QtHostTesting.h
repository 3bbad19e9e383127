#pragma once
// What a test of the Qt host needs to see and do on screen, without Qt types: where a
// control's widget sits and what it shows, the input a person gives (mouse, keys,
// drags), the client area as pixels, and the windows the host opens on its own
// (message boxes, file dialogs, the system menu). Valid inside RunWithQtHost only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Dialog.h"
#include "ui/QtHost.h"

namespace QtHostTesting {

// Shows a dialog without a modal run (OnInitDialog runs first) and takes it down again
// (the dialog's Destroy event, then the window goes).
UI_QT_API void Open(CDialog& dlg);
UI_QT_API void Close(CDialog& dlg);

// Runs fn from the event loop as soon as it is idle, e.g. inside a modal run.
UI_QT_API void Post(std::function<void()> fn);
UI_QT_API void ProcessEvents();

// The dialog of the topmost modal window, or nullptr when that is no framework dialog.
UI_QT_API CDialog* ActiveModalDialog();

// The window: its title as the window system shows it, whether it is minimised, and how
// many times a dialog window was shown (show events) since the first call.
UI_QT_API std::string WindowTitle(const CDialog& dlg);
UI_QT_API bool WindowMinimized(const CDialog& dlg);
UI_QT_API int DialogWindowsShown();

// Widgets: geometry in client pixels of the dialog, and what the widget shows.
UI_QT_API CRect ClientGeometry(const CDialog& dlg);  // client area in screen pixels
UI_QT_API CRect ControlGeometry(const CDialog& dlg, int id);
UI_QT_API std::string ControlText(const CDialog& dlg, int id);
UI_QT_API bool ControlChecked(const CDialog& dlg, int id);
UI_QT_API bool ControlEnabled(const CDialog& dlg, int id);
UI_QT_API bool ControlVisible(const CDialog& dlg, int id);
UI_QT_API int ControlValue(const CDialog& dlg, int id);  // track bar and progress bar
UI_QT_API bool ButtonIsDefault(const CDialog& dlg, int id);  // drawn as the default button
UI_QT_API std::vector<std::string> ListLines(const CDialog& dlg, int id);
UI_QT_API int ListCurrentRow(const CDialog& dlg, int id);
// Rows the list's widget inserted since the first call for it: what keeping it up to date
// cost the widget.
UI_QT_API int ListRowsInserted(const CDialog& dlg, int id);
// Where each tab-separated field of a list line is drawn, in client pixels.
UI_QT_API std::vector<CRect> ListFieldRects(const CDialog& dlg, int id, int row);
// Where a track bar's thumb is drawn, in client pixels.
UI_QT_API CRect TrackThumbGeometry(const CDialog& dlg, int id);
// Every text of the dialog's controls (captions, readouts, list lines, group titles) that
// its widget cannot show whole in the font it uses: a line wider than the room the widget
// gives text, or wrapped lines taller than it. Each as "control id: text".
UI_QT_API std::vector<std::string> TextsCutOff(const CDialog& dlg);

// Input, delivered as the windowing system delivers it.
UI_QT_API void ClickControl(CDialog& dlg, int id);
UI_QT_API void ClickListLine(CDialog& dlg, int id, int row);
UI_QT_API void DoubleClickListLine(CDialog& dlg, int id, int row);
// Presses the thumb with the mouse, moves it towards each position in turn (to the pixel
// nearest it), releases it; returns the position the thumb took at each move.
UI_QT_API std::vector<int> DragTrackBar(CDialog& dlg, int id, const std::vector<int>& positions);
// Turns the mouse wheel over a track bar by notches (positive: away from the person).
UI_QT_API void WheelTrackBar(CDialog& dlg, int id, int notches);
// A left click on a track bar's channel beside its thumb: above it (towards the top) or below.
UI_QT_API void ClickTrackBarChannel(CDialog& dlg, int id, bool above);
enum class Key { Enter, Escape, Up, Down, PageUp, PageDown, Home, End, Tab, F1 };
UI_QT_API void FocusControl(CDialog& dlg, int id);
// A key to the control with the focus (id 0) or to control id.
UI_QT_API void PressKey(CDialog& dlg, Key key, int id = 0);
UI_QT_API void TypeText(CDialog& dlg, int id, const std::string& text);
UI_QT_API void CloseWindow(CDialog& dlg);  // the window's close box
// A click put in the event queue, as the window system queues a person's click: the control
// takes it when the event loop runs next.
UI_QT_API void PostClick(CDialog& dlg, int id);

// From now on, records what reaches the controls ids, in order: "paint <id> <text shown>"
// for each paint, "input <id>" for each mouse press or key press. Replaces an earlier record.
UI_QT_API void StartEventLog(CDialog& dlg, const std::vector<int>& ids);
UI_QT_API std::vector<std::string> EventLog();

// The client area as the screen shows it: widgets and the dialog's own drawing.
struct ClientImage {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;  // row-major
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};
UI_QT_API ClientImage GrabClient(const CDialog& dlg);
// The icon the window itself carries at size x size pixels; empty when it has none.
UI_QT_API ClientImage WindowIcon(const CDialog& dlg, int size);

// The topmost message box.
struct MessageBoxInfo {
  std::string caption;
  std::string text;
  bool critical = false;  // the critical icon; false: no icon
  std::vector<std::string> buttons;
};
UI_QT_API std::optional<MessageBoxInfo> ActiveMessageBox();
UI_QT_API void DismissActiveMessageBox();  // clicks its OK button

// The topmost file dialog.
struct FileDialogInfo {
  bool save = false;
  std::string title;
  std::vector<std::string> filters;  // as offered, e.g. "Bitmaps (*.bmp *.dib)"
  std::string folder;
  std::string fileName;              // the name in the name box
  std::string defaultSuffix;
};
UI_QT_API std::optional<FileDialogInfo> ActiveFileDialog();
UI_QT_API void AcceptActiveFileDialog(const std::string& path);  // a refused name cancels
UI_QT_API void CancelActiveFileDialog();

// The dialog's context menu, which carries its system-menu items: opening it blocks
// until an item is chosen or the menu is dismissed, so choose from a Post()ed function.
UI_QT_API void OpenContextMenu(CDialog& dlg);
UI_QT_API std::vector<std::string> ActiveMenuItems();  // "" for a separator
UI_QT_API bool ChooseActiveMenuItem(const std::string& text);  // false: the menu is closed

// The help window that HELP_FINDER opens, if it is showing.
UI_QT_API bool HelpWindowShown();
// The page the guide's window shows, with the part it jumped to ("file:///...#part"); empty
// when no guide is showing.
UI_QT_API std::string HelpWindowLocation();

}  // namespace QtHostTesting
