#pragma once
// Dialog templates are data owned by the library that shows the dialog. A library
// registers its templates once; dialogs find theirs by id.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Types.h"

enum class ControlKind {
  PushButton,   // STYLE_MULTILINE for a multi-line button, STYLE_DEFAULT for the default one
  CheckBox,
  Edit,         // STYLE_READONLY, STYLE_CENTRED, STYLE_MULTILINE
  Static,       // STYLE_CENTRED, STYLE_SUNKEN; STYLE_ICON for the application icon
  GroupBox,
  GreyFrame,
  ListBox,      // STYLE_TABSTOPS, STYLE_NOTIFY, STYLE_VSCROLL
  TrackBar,     // vertical; STYLE_NOTICKS
  ProgressBar,
  Picture,      // a grey picture the program hands over, drawn by the host (see ui/Picture.h)
};

enum ControlStyle : uint32_t {
  STYLE_NONE = 0,
  STYLE_READONLY = 1u << 0,
  STYLE_CENTRED = 1u << 1,
  STYLE_MULTILINE = 1u << 2,
  STYLE_DEFAULT = 1u << 3,
  STYLE_NOTIFY = 1u << 4,
  STYLE_TABSTOPS = 1u << 5,
  STYLE_VSCROLL = 1u << 6,
  STYLE_SUNKEN = 1u << 7,
  STYLE_NOTICKS = 1u << 8,
  STYLE_DISABLED = 1u << 9,
  STYLE_HIDDEN = 1u << 10,
  STYLE_ICON = 1u << 11,
};

enum DialogStyle : uint32_t {
  DS_NONE = 0,
  DS_SYSMENU = 1u << 0,
  DS_MODALFRAME = 1u << 1,
  DS_MINIMIZEBOX = 1u << 2,
  DS_CONTEXTHELP = 1u << 3,
};

struct ControlTemplate {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::Static;
  std::string caption;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  uint32_t style = STYLE_NONE;

  bool operator==(const ControlTemplate&) const = default;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int cx = 0, cy = 0;  // dialog units
  std::string font = "MS Sans Serif";
  int pointSize = 8;
  uint32_t style = DS_SYSMENU | DS_MODALFRAME;
  std::vector<ControlTemplate> controls;

  const ControlTemplate* Find(int controlId) const;
  bool operator==(const DialogTemplate&) const = default;
};

// The host's dialog-resource lookup. Registering the same template again changes nothing;
// a different template under a registered id is a build fault: it is reported, naming
// both, and the process aborts before any dialog can show the wrong one.
UI_API void RegisterDialogTemplate(const DialogTemplate& t);
UI_API const DialogTemplate* FindDialogTemplate(int id);
