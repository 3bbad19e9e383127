#pragma once
// The store's file as a person wrote it, read line by line each time it is asked: its
// sections ([key] headers) with their lines, and the values those lines give. Whatever
// makes no sense is skipped for reading and kept as it was, except in a key being saved,
// which is written clean. Nothing is kept per line, so a large file costs its bytes.

#include <string>
#include <string_view>
#include <vector>

#include "RegText.h"

class CRegDocument {
 public:
  // Reads any bytes: CR LF or LF line ends, a UTF-8 byte-order mark, the REGEDIT4 line.
  explicit CRegDocument(std::string text);

  // Whether the store has the key: a section names it or a key below it.
  bool HasKey(std::string_view key) const;
  // The key's values, in file order; a value named twice reads as the later one.
  std::vector<RegValue> Values(std::string_view key) const;
  // Every key a section names, once each, in file order.
  std::vector<std::string> Keys() const;

  // The file's text with changes saved into key. The key becomes one clean section, where
  // its first section stood (else last): its values that could be read, its comments,
  // and changes. Every other section stays as it was.
  std::string SavedText(const std::string& key, const std::vector<RegValue>& changes) const;

 private:
  std::string m_Text;
  size_t m_FirstLine = 0;  // past the byte-order mark and the format line
};
