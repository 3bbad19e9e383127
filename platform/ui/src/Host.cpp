#include "ui/Host.h"

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

const std::string& ApplicationTitle() { return Title(); }

std::optional<std::string> FileDialog(CDialog* owner, const FileDialogRequest& request) {
  std::optional<std::string> path = Host().FileDialog(owner, request);
  // The path must fit the caller's buffer with its terminating NUL.
  if (path && path->size() >= request.bufferSize) return std::nullopt;
  return path;
}
