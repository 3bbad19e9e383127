#include "ui/Host.h"

#include <algorithm>
#include <climits>

#include "ui/ScriptedHost.h"

namespace {

std::unique_ptr<IHost>& CurrentHost() {
  static std::unique_ptr<IHost> host;
  return host;
}

std::string& Title() {
  static std::string title = "Sorrel";
  return title;
}

}  // namespace

void SetHost(std::unique_ptr<IHost> host) { CurrentHost() = std::move(host); }

IHost& Host() {
  auto& host = CurrentHost();
  // Headless by default: a process that never chose a host still runs its logic.
  if (!host) host = std::make_unique<CScriptedHost>();
  return *host;
}

int MessageBox(CDialog* owner, const std::string& text, const std::string& caption, MessageIcon icon) {
  return Host().MessageBox(owner, text, caption, icon);
}

int AppMessageBox(const std::string& text, MessageIcon icon) {
  return Host().MessageBox(nullptr, text, Title(), icon);
}

void SetApplicationTitle(const std::string& title) { Title() = title; }

namespace {

std::string& HelpPath() {
  static std::string path;
  return path;
}

}  // namespace

void SetHelpFile(const std::string& path) { HelpPath() = path; }

const std::string& HelpFile() { return HelpPath(); }

std::string HelpAnchor(unsigned contextId) { return "help-" + std::to_string(contextId); }

const std::string& ApplicationTitle() { return Title(); }

std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& request) {
  std::optional<std::string> path = Host().FileDialog(owner, request);
  // The buffer holds any path the platform allows, so whatever a file reader can open can
  // be chosen; a longer one is refused where the operator sees it.
  const size_t buffer = std::max<size_t>(request.bufferSize, PATH_MAX);
  if (path && path->size() >= buffer) {
    MessageBox(owner, "Path too long: " + *path, "FILE ERROR");
    return std::nullopt;
  }
  return path;
}
