#include "ScriptMessages.h"

#include <mutex>

#include "ui/ScriptedHost.h"

namespace scripting {
namespace {

std::mutex g_Mutex;
CScriptedHost* g_Host = nullptr;
std::vector<ScriptMessage> g_Kept;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void UseScriptHost() {
  std::lock_guard lock(g_Mutex);
  // A host installed by someone else since (a test's own) is theirs to keep.
  if (g_Host == nullptr) g_Host = &CScriptedHost::Install();
}

std::vector<ScriptMessage> TakeMessages() {
  std::lock_guard lock(g_Mutex);
  std::vector<ScriptMessage> taken = std::move(g_Kept);
  g_Kept.clear();
  if (g_Host == nullptr || &Host() != g_Host) return taken;
  for (const auto& record : g_Host->Messages()) taken.push_back({record.caption, OneLine(record.text)});
  g_Host->ClearMessages();
  return taken;
}

void KeepMessage(const std::string& caption, const std::string& text) {
  std::lock_guard lock(g_Mutex);
  g_Kept.push_back({caption, OneLine(text)});
}

std::string JoinedTexts(const std::vector<ScriptMessage>& messages, const std::string& fallback) {
  std::string joined;
  for (const ScriptMessage& m : messages) {
    if (m.Text.empty()) continue;
    if (!joined.empty()) joined += "; ";
    joined += m.Text;
  }
  return joined.empty() ? fallback : joined;
}

std::string OneLine(const std::string& text) {
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsBlank(text[i])) {
      line += text[i++];
      continue;
    }
    size_t end = i;
    while (end < text.size() && IsBlank(text[end])) ++end;
    if (!line.empty() && end < text.size()) line += ' ';
    i = end;
  }
  return line;
}

}  // namespace scripting
