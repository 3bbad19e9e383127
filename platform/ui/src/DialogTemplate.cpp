#include "ui/DialogTemplate.h"

#include <cstdio>
#include <cstdlib>
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

void RegisterDialogTemplate(const DialogTemplate& t) {
  const auto [it, added] = Registry().try_emplace(t.id, t);
  if (added || it->second == t) return;
  std::fprintf(stderr, "ui: dialog template %d registered twice: \"%s\" and \"%s\"\n", t.id,
               it->second.caption.c_str(), t.caption.c_str());
  std::abort();
}

const DialogTemplate* FindDialogTemplate(int id) {
  auto& registry = Registry();
  auto it = registry.find(id);
  return it == registry.end() ? nullptr : &it->second;
}
