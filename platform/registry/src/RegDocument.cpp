#include "RegDocument.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view FORMAT_LINE = "REGEDIT4";

enum class LineKind { Header, Value, Comment, Blank, Other };

// One logical line: a line, and for a value the indented lines that continue it.
struct RegLine {
  LineKind kind = LineKind::Other;
  std::string_view text;  // as read, with the line ends of continued lines
};

// The line at the start of text, without its line end and the CRs before it.
std::string_view FirstLine(std::string_view text) {
  std::string_view line = text.substr(0, text.find('\n'));
  while (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// A line ending in a backslash goes on in the next line when that one is indented.
bool Continues(std::string_view line, std::string_view next) {
  return TrimRight(line).ends_with('\\') && !IsBlank(next) && (next[0] == ' ' || next[0] == '\t');
}

class CLineScanner {
 public:
  explicit CLineScanner(std::string_view text) : m_Rest(text) {}

  bool Next(RegLine& line) {
    if (m_Rest.empty()) return false;
    const char* begin = m_Rest.data();
    std::string_view last = Take();
    const std::string_view body = TrimLeft(last);
    if (last.starts_with('['))
      line.kind = LineKind::Header;
    else if (body.empty())
      line.kind = LineKind::Blank;
    else if (body[0] == ';')
      line.kind = LineKind::Comment;
    else if (body[0] == '"' || body[0] == '@')
      line.kind = LineKind::Value;
    else
      line.kind = LineKind::Other;
    if (line.kind == LineKind::Value)
      while (!m_Rest.empty() && Continues(last, FirstLine(m_Rest))) last = Take();
    line.text = std::string_view(begin, static_cast<size_t>(last.data() + last.size() - begin));
    return true;
  }

 private:
  std::string_view Take() {
    const std::string_view line = FirstLine(m_Rest);
    const size_t end = m_Rest.find('\n');
    m_Rest.remove_prefix(end == std::string_view::npos ? m_Rest.size() : end + 1);
    return line;
  }

  std::string_view m_Rest;
};

// Calls visit(line) for each logical line of text.
template <class Visit>
void ForEachLine(std::string_view text, Visit visit) {
  CLineScanner scanner(text);
  RegLine line;
  while (scanner.Next(line)) visit(line);
}

// The lines of text each ended by one LF.
void AppendLines(std::string& out, std::string_view text) {
  for (;;) {
    const size_t end = text.find('\n');
    out += FirstLine(text);
    out += '\n';
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

// The value line, continued lines joined, as one line.
std::optional<RegValue> ParseValue(std::string_view text) {
  std::string logical(FirstLine(text));
  for (size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
    text.remove_prefix(end + 1);
    logical.resize(TrimRight(logical).size() - 1);
    logical += FirstLine(text);
  }
  return ParseValueLine(logical);
}

// [key], or [key without its closing bracket: a header cut short still names its key.
// Anything after the closing bracket makes the header name nothing.
std::optional<std::string_view> HeaderKey(std::string_view line) {
  std::string_view body = TrimRight(line).substr(1);
  if (body.ends_with(']')) return body.substr(0, body.size() - 1);
  if (body.find(']') == std::string_view::npos) return body;
  return std::nullopt;
}

bool IsKey(std::string_view header, std::string_view key) {
  const std::optional<std::string_view> named = HeaderKey(header);
  return named && SameName(*named, key);
}

bool IsBelow(std::string_view header, std::string_view key) {
  const std::optional<std::string_view> named = HeaderKey(header);
  return named && named->size() > key.size() && (*named)[key.size()] == '\\' &&
         SameName(named->substr(0, key.size()), key);
}

// The comments and values of one key, a value named again taking the place of the
// earlier one (whose spelling stays).
class CMergedEntries {
 public:
  struct Entry {
    std::string_view comment;  // for a comment
    std::optional<RegValue> value;
  };

  void PutComment(std::string_view line) { m_Entries.push_back({line, std::nullopt}); }

  void Put(const RegValue& value) {
    const auto [slot, added] = m_Index.try_emplace(FoldedName(value.name), m_Entries.size());
    if (added) {
      m_Entries.push_back({{}, value});
    } else {
      RegValue& old = *m_Entries[slot->second].value;
      old.type = value.type;
      old.data = value.data;
    }
  }

  const std::vector<Entry>& Entries() const { return m_Entries; }

 private:
  std::vector<Entry> m_Entries;
  std::unordered_map<std::string, size_t> m_Index;  // folded value name -> its entry
};

CMergedEntries Merge(std::string_view text, std::string_view key) {
  CMergedEntries merged;
  bool inKey = false;
  ForEachLine(text, [&](const RegLine& line) {
    if (line.kind == LineKind::Header) inKey = IsKey(line.text, key);
    if (!inKey) return;
    if (line.kind == LineKind::Comment) merged.PutComment(line.text);
    if (line.kind != LineKind::Value) return;
    if (std::optional<RegValue> value = ParseValue(line.text)) merged.Put(*value);
  });
  return merged;
}

void AppendClean(std::string& out, std::string_view key, const CMergedEntries& merged) {
  out += '[';
  out += key;
  out += "]\n";
  for (const CMergedEntries::Entry& entry : merged.Entries()) {
    if (entry.value)
      out += ValueLines(*entry.value);
    else
      AppendLines(out, entry.comment);
  }
  out += '\n';
}

}  // namespace

CRegDocument::CRegDocument(std::string text) : m_Text(std::move(text)) {
  std::string_view rest = m_Text;
  if (rest.starts_with(BYTE_ORDER_MARK)) rest.remove_prefix(BYTE_ORDER_MARK.size());
  if (TrimRight(FirstLine(rest)) == FORMAT_LINE) {
    const size_t end = rest.find('\n');
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  m_FirstLine = m_Text.size() - rest.size();
}

bool CRegDocument::HasKey(std::string_view key) const {
  bool found = false;
  ForEachLine(std::string_view(m_Text).substr(m_FirstLine), [&](const RegLine& line) {
    found = found || (line.kind == LineKind::Header && (IsKey(line.text, key) || IsBelow(line.text, key)));
  });
  return found;
}

std::vector<RegValue> CRegDocument::Values(std::string_view key) const {
  const CMergedEntries merged = Merge(std::string_view(m_Text).substr(m_FirstLine), key);
  std::vector<RegValue> values;
  for (const CMergedEntries::Entry& entry : merged.Entries())
    if (entry.value) values.push_back(*entry.value);
  return values;
}

std::vector<std::string> CRegDocument::Keys() const {
  std::vector<std::string> keys;
  std::unordered_set<std::string> seen;
  ForEachLine(std::string_view(m_Text).substr(m_FirstLine), [&](const RegLine& line) {
    if (line.kind != LineKind::Header) return;
    const std::optional<std::string_view> key = HeaderKey(line.text);
    if (key && seen.insert(FoldedName(*key)).second) keys.emplace_back(*key);
  });
  return keys;
}

std::string CRegDocument::SavedText(const std::string& key, const std::vector<RegValue>& changes) const {
  const std::string_view text = std::string_view(m_Text).substr(m_FirstLine);
  CMergedEntries merged = Merge(text, key);
  for (const RegValue& change : changes) merged.Put(change);

  std::string out(FORMAT_LINE);
  out += "\n\n";
  bool inPreamble = true;  // before the first header
  bool started = false;    // a line other than a blank one came: earlier blank lines are the gap after the format line
  bool inKey = false;      // in a section of key, which was written clean at its first header
  bool written = false;
  std::string blanks;      // blank lines held until a line shows they do not end a section
  // A section ends in one blank line, whatever it was read with. The lines before the
  // first section keep theirs: they may be a comment set apart from what follows, or not.
  const auto endSection = [&] {
    if (inPreamble)
      out += blanks;
    else if (!inKey)
      out += '\n';
    blanks.clear();
  };
  ForEachLine(text, [&](const RegLine& line) {
    if (line.kind == LineKind::Header) {
      endSection();
      inPreamble = false;
      started = true;
      inKey = IsKey(line.text, key);
      if (inKey && !written) AppendClean(out, *HeaderKey(line.text), merged);
      written = written || inKey;
      if (!inKey) AppendLines(out, line.text);
      return;
    }
    if (inKey || (!started && line.kind == LineKind::Blank)) return;
    if (line.kind == LineKind::Blank) {
      AppendLines(blanks, line.text);
      return;
    }
    started = true;
    out += blanks;
    blanks.clear();
    AppendLines(out, line.text);
  });
  endSection();
  if (!written) AppendClean(out, key, merged);
  return out;
}
