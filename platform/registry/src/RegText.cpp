#include "RegText.h"

#include <cstdio>

namespace {

// Hex lines stop short of this width, continuation mark included.
constexpr size_t MAX_HEX_LINE = 80;

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && SameName(text.substr(0, word.size()), word);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Folded(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One to maxDigits hex digits and nothing else.
bool ReadHex(std::string_view digits, size_t maxDigits, DWORD& value) {
  if (digits.empty() || digits.size() > maxDigits) return false;
  value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    value = value << 4 | static_cast<DWORD>(d);
  }
  return true;
}

// Bytes written xx,xx,... with blanks allowed around each; nothing at all is no bytes.
bool ReadHexBytes(std::string_view list, std::string& bytes) {
  if (IsBlank(list)) return true;
  for (;;) {
    const size_t comma = list.find(',');
    DWORD byte;
    if (!ReadHex(TrimRight(TrimLeft(list.substr(0, comma))), 2, byte)) return false;
    bytes.push_back(static_cast<char>(byte));
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

// A quoted text from text[pos], which is the opening quote; only \\ and \" are escapes, any
// other backslash is itself (a hand-written folder path). pos ends after the closing quote.
bool ReadQuoted(std::string_view text, size_t& pos, std::string& out) {
  for (++pos; pos < text.size();) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < text.size() && (text[pos] == '\\' || text[pos] == '"')) c = text[pos++];
    out.push_back(c);
  }
  return false;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// A REG_SZ goes between quotes only when reading it back gives the same bytes: one NUL,
// at the end, and no line break.
bool QuotedFormCarries(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  data.remove_suffix(1);
  return data.find_first_of(std::string_view("\0\n\r", 3)) == std::string_view::npos;
}

void AppendHexBytes(std::string& out, std::string_view data) {
  size_t column = out.size();
  bool lineStarted = false;
  for (size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    const size_t width = last ? 2 : 3;
    if (lineStarted && column + width + 1 > MAX_HEX_LINE) {
      out += "\\\n  ";
      column = 2;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, last ? "%02x" : "%02x,", static_cast<unsigned char>(data[i]));
    out += hex;
    column += width;
    lineStarted = true;
  }
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Folded(a[i]) != Folded(b[i])) return false;
  return true;
}

std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = Folded(c);
  return folded;
}

const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name) {
  for (const RegValue& value : values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

void PutValue(std::vector<RegValue>& values, const RegValue& value) {
  for (RegValue& old : values) {
    if (SameName(old.name, value.name)) {
      old.type = value.type;
      old.data = value.data;
      return;
    }
  }
  values.push_back(value);
}

bool IsBlank(std::string_view line) { return TrimLeft(line).empty(); }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<RegValue> ParseValueLine(std::string_view line) {
  const std::string_view text = TrimRight(TrimLeft(line));
  RegValue value;
  size_t pos = 0;
  if (text.starts_with('@')) {
    pos = 1;
  } else if (!text.starts_with('"') || !ReadQuoted(text, pos, value.name)) {
    return std::nullopt;
  }
  std::string_view rest = TrimLeft(text.substr(pos));
  if (!rest.starts_with('=')) return std::nullopt;
  rest = TrimLeft(rest.substr(1));

  if (rest.starts_with('"')) {
    size_t end = 0;
    if (!ReadQuoted(rest, end, value.data) || end != rest.size()) return std::nullopt;
    value.data.push_back('\0');
    return value;
  }
  if (StartsWithWord(rest, "dword:")) {
    DWORD number;
    if (!ReadHex(rest.substr(6), 8, number)) return std::nullopt;
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<char>(number >> shift));
    return value;
  }
  if (StartsWithWord(rest, "hex:")) {
    value.type = REG_BINARY;
    rest.remove_prefix(4);
  } else if (StartsWithWord(rest, "hex(")) {
    const size_t close = rest.find("):");
    if (close == std::string_view::npos || !ReadHex(rest.substr(4, close - 4), 8, value.type)) return std::nullopt;
    rest.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  if (!ReadHexBytes(rest, value.data)) return std::nullopt;
  return value;
}

std::string ValueLines(const RegValue& value) {
  std::string out;
  if (value.name.empty())
    out.push_back('@');
  else
    AppendQuoted(out, value.name);
  out.push_back('=');
  if (value.type == REG_SZ && QuotedFormCarries(value.data)) {
    AppendQuoted(out, std::string_view(value.data).substr(0, value.data.size() - 1));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
    char text[20];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += text;
  } else {
    char prefix[20];
    if (value.type == REG_BINARY)
      std::snprintf(prefix, sizeof prefix, "hex:");
    else
      std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    out += prefix;
    AppendHexBytes(out, value.data);
  }
  out.push_back('\n');
  return out;
}
