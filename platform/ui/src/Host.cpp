#include "ui/Host.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ModalRun.h"
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

std::string TranscriptLine(const std::string& caption, const std::string& text) {
  std::string line = caption + ": ";
  for (char c : text) line += c == '\n' ? std::string("\\n") : std::string(1, c);
  return line;
}

namespace {

// One write per line, so lines from several processes never mix.
bool Transcribe(const std::string& text, const std::string& caption) {
  const char* file = std::getenv("SORREL_UI_TRANSCRIPT");
  if (file == nullptr || file[0] == '\0') return false;
  const std::string line = TranscriptLine(caption, text) + '\n';
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    std::fprintf(stderr, "ui: cannot write the transcript %s: %s\n", file, std::strerror(errno));
  }
  if (fd >= 0) ::close(fd);
  return true;
}

}  // namespace

namespace {

thread_local std::vector<HeldMessage>* t_Held = nullptr;
int g_ModalRuns = 0;  // user-interface thread only

}  // namespace

ModalRun::ModalRun() { ++g_ModalRuns; }

ModalRun::~ModalRun() { --g_ModalRuns; }

int ModalRuns() { return g_ModalRuns; }

void HoldMessagesOnThisThread(std::vector<HeldMessage>* into) { t_Held = into; }

void ShowHeldMessages(std::vector<HeldMessage>& held) {
  for (const HeldMessage& m : held) MessageBox(m.owner, m.text, m.caption, m.icon);
  held.clear();
}

int MessageBox(CDialog* owner, const std::string& text, const std::string& caption, MessageIcon icon) {
  if (t_Held != nullptr) {
    t_Held->push_back(HeldMessage{owner, text, caption, icon});
    return IDOK;
  }
  if (Transcribe(text, caption)) return IDOK;
  const ModalRun run;
  return Host().MessageBox(owner, text, caption, icon);
}

int AppMessageBox(const std::string& text, MessageIcon icon) {
  return MessageBox(nullptr, text, Title(), icon);
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
  std::optional<std::string> path;
  {
    const ModalRun run;
    path = Host().FileDialog(owner, request);
  }
  // The buffer holds any path the platform allows, so whatever a file reader can open can
  // be chosen; a longer one is refused where the operator sees it.
  const size_t buffer = std::max<size_t>(request.bufferSize, PATH_MAX);
  if (path && path->size() >= buffer) {
    MessageBox(owner, "Path too long: " + *path, "FILE ERROR");
    return std::nullopt;
  }
  return path;
}
