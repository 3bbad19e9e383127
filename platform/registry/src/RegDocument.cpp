#include "RegDocument.h"

#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view FORMAT_LINE = "REGEDIT4";

std::vector<std::string_view> SplitLines(std::string_view text) {
  if (text.starts_with(BYTE_ORDER_MARK)) text.remove_prefix(BYTE_ORDER_MARK.size());
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    while (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

// [key], or [key without its closing bracket: a header cut short still names its key.
// Anything after the closing bracket makes the header name nothing.
std::optional<std::string> HeaderKey(std::string_view line) {
  std::string_view body = TrimRight(line).substr(1);
  if (body.ends_with(']')) return std::string(body.substr(0, body.size() - 1));
  if (body.find(']') == std::string_view::npos) return std::string(body);
  return std::nullopt;
}

// A line ending in a backslash goes on in the next line when that one is indented.
bool Continues(std::string_view logical, std::string_view next) {
  return TrimRight(logical).ends_with('\\') && !IsBlank(next) && (next[0] == ' ' || next[0] == '\t');
}

bool IsKey(const RegSection& section, std::string_view key) {
  return section.key && SameName(*section.key, key);
}

bool IsBelow(const RegSection& section, std::string_view key) {
  return section.key && section.key->size() > key.size() && (*section.key)[key.size()] == '\\' &&
         SameName(std::string_view(*section.key).substr(0, key.size()), key);
}

// A section ends in one blank line, whatever it was read with. The lines before the first
// section keep theirs: they may be a comment set apart from what follows, or not.
void DropBlankEnd(std::vector<RegSection>& sections) {
  std::vector<RegEntry>& entries = sections.back().entries;
  while (sections.size() > 1 && !entries.empty() && entries.back().kind == EntryKind::Blank) entries.pop_back();
}

// The comments and values of one key, a value named again taking the place of the
// earlier one (whose spelling stays).
class CMergedEntries {
 public:
  void Put(const RegEntry& entry) {
    if (entry.kind == EntryKind::Comment) m_Entries.push_back(entry);
    if (entry.kind != EntryKind::Value) return;
    const auto [slot, added] = m_Index.try_emplace(FoldedName(entry.value.name), m_Entries.size());
    if (added) {
      m_Entries.push_back(entry);
    } else {
      RegValue& old = m_Entries[slot->second].value;
      old.type = entry.value.type;
      old.data = entry.value.data;
    }
  }

  std::vector<RegEntry> Take() { return std::move(m_Entries); }

 private:
  std::vector<RegEntry> m_Entries;
  std::unordered_map<std::string, size_t> m_Index;  // folded value name -> its entry
};

CMergedEntries Merge(const std::vector<RegSection>& sections, std::string_view key) {
  CMergedEntries merged;
  for (const RegSection& section : sections)
    if (IsKey(section, key))
      for (const RegEntry& entry : section.entries) merged.Put(entry);
  return merged;
}

}  // namespace

CRegDocument::CRegDocument(std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  size_t i = 0;
  if (!lines.empty() && TrimRight(lines[0]) == FORMAT_LINE) ++i;
  m_Sections.emplace_back();
  while (i < lines.size()) {
    const std::string_view line = lines[i++];
    if (line.starts_with('[')) {
      DropBlankEnd(m_Sections);
      m_Sections.push_back(RegSection{std::string(line), HeaderKey(line), {}});
      continue;
    }
    RegEntry entry;
    entry.lines = line;
    const std::string_view body = TrimLeft(line);
    if (body.empty()) {
      entry.kind = EntryKind::Blank;
    } else if (body[0] == ';') {
      entry.kind = EntryKind::Comment;
    } else if (body[0] == '"' || body[0] == '@') {
      std::string logical(line);
      for (; i < lines.size() && Continues(logical, lines[i]); ++i) {
        logical.resize(TrimRight(logical).size() - 1);
        logical += lines[i];
        entry.lines += '\n';
        entry.lines += lines[i];
      }
      if (std::optional<RegValue> value = ParseValueLine(logical)) {
        entry.kind = EntryKind::Value;
        entry.value = std::move(*value);
      }
    }
    // Blank lines before anything else are the gap after the format line.
    if (m_Sections.size() > 1 || !m_Sections[0].entries.empty() || entry.kind != EntryKind::Blank)
      m_Sections.back().entries.push_back(std::move(entry));
  }
  DropBlankEnd(m_Sections);
}

bool CRegDocument::HasKey(std::string_view key) const {
  for (const RegSection& section : m_Sections)
    if (IsKey(section, key) || IsBelow(section, key)) return true;
  return false;
}

std::vector<RegValue> CRegDocument::Values(std::string_view key) const {
  std::vector<RegValue> values;
  for (RegEntry& entry : Merge(m_Sections, key).Take())
    if (entry.kind == EntryKind::Value) values.push_back(std::move(entry.value));
  return values;
}

std::vector<std::string> CRegDocument::Keys() const {
  std::vector<std::string> keys;
  std::unordered_set<std::string> seen;
  for (const RegSection& section : m_Sections)
    if (section.key && seen.insert(FoldedName(*section.key)).second) keys.push_back(*section.key);
  return keys;
}

void CRegDocument::Apply(const std::string& key, const std::vector<RegValue>& changes) {
  CMergedEntries merged = Merge(m_Sections, key);
  for (const RegValue& change : changes) merged.Put(RegEntry{EntryKind::Value, {}, change});

  // The key's first section takes its merged entries; its other sections go.
  std::vector<RegSection> sections;
  sections.reserve(m_Sections.size() + 1);
  bool placed = false;
  for (RegSection& section : m_Sections) {
    if (IsKey(section, key)) {
      if (placed) continue;
      section.entries = merged.Take();
      section.clean = true;
      placed = true;
    }
    sections.push_back(std::move(section));
  }
  if (!placed) sections.push_back(RegSection{{}, key, merged.Take(), true});
  m_Sections = std::move(sections);
}

std::string CRegDocument::Text() const {
  std::string text(FORMAT_LINE);
  text += "\n\n";
  for (const RegEntry& entry : m_Sections.front().entries) text += entry.lines + '\n';
  for (size_t i = 1; i < m_Sections.size(); ++i) {
    const RegSection& section = m_Sections[i];
    text += section.clean ? "[" + *section.key + "]" : section.header;
    text += '\n';
    for (const RegEntry& entry : section.entries)
      text += section.clean && entry.kind == EntryKind::Value ? ValueLines(entry.value) : entry.lines + '\n';
    text += '\n';
  }
  return text;
}
