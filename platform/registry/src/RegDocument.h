#pragma once
// The store's file as a person wrote it: its sections ([key] headers) with their lines, and
// the values those lines give. Whatever makes no sense is skipped for reading and kept as
// it was, except in a key being saved, which is written clean.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RegText.h"

enum class EntryKind { Value, Comment, Blank, Other };

// One logical line of a section: a value line with the lines that continue it, a comment,
// a blank line, or a line that makes no sense.
struct RegEntry {
  EntryKind kind = EntryKind::Other;
  std::string lines;  // as read, without the last line end
  RegValue value;     // for a value
};

struct RegSection {
  std::string header;              // the header line as read
  std::optional<std::string> key;  // the key it names; none when it names none
  std::vector<RegEntry> entries;
  bool clean = false;              // written from its values rather than as read
};

class CRegDocument {
 public:
  // Reads any bytes: CR LF or LF line ends, a UTF-8 byte-order mark, the REGEDIT4 line.
  explicit CRegDocument(std::string_view text);

  // Whether the store has the key: a section names it or a key below it.
  bool HasKey(std::string_view key) const;
  // The key's values, in file order; a value named twice reads as the later one.
  std::vector<RegValue> Values(std::string_view key) const;
  // Every key a section names, once each, in file order.
  std::vector<std::string> Keys() const;

  // Writes changes into key, which becomes one clean section (of its values that could
  // be read, its comments, and changes); every other section stays as it was.
  void Apply(const std::string& key, const std::vector<RegValue>& changes);

  std::string Text() const;

 private:
  // Comments and the values of every section of key, merged into the first one.
  std::vector<RegEntry> MergedEntries(std::string_view key) const;

  std::vector<RegSection> m_Sections;  // the first holds the lines before any header
};
