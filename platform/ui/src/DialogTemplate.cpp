#include "ui/DialogTemplate.h"

#include <map>

namespace {

// Libraries register their templates from static initialisers, so the registry must
// exist before any of them runs: a function-local static does.
std::map<int, DialogTemplate>& Registry() {
  static std::map<int, DialogTemplate> registry;
  return registry;
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
  if (controlId == IDC_STATIC) return nullptr;
  for (const ControlTemplate& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

void RegisterDialogTemplate(const DialogTemplate& t) { Registry()[t.id] = t; }

const DialogTemplate* FindDialogTemplate(int id) {
  auto& registry = Registry();
  auto it = registry.find(id);
  return it == registry.end() ? nullptr : &it->second;
}
