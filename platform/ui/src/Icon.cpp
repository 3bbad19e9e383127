#include "ui/Dialog.h"

namespace {

// The program's icons. Hosts draw each one by its id.
constexpr IconResource ICONS[] = {{APPLICATION_ICON}};

}  // namespace

HICON LoadIcon(int resourceId) {
  for (const IconResource& icon : ICONS) {
    if (icon.id == resourceId) return &icon;
  }
  return nullptr;
}
