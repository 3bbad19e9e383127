#include "SequenceFile.h"

#include <new>
#include <string_view>

#include "File.h"
#include "files/Paths.h"
#include "files/ReplaceFile.h"
#include "ui/Host.h"

namespace {

// A path as the entry pattern takes it: a run of characters other than comma and blank.
std::string_view TakePath(std::string_view& rest) {
  size_t n = rest.find_first_of(", ");
  if (n == std::string_view::npos) n = rest.size();
  std::string_view path = rest.substr(0, n);
  rest.remove_prefix(n);
  return path;
}

size_t SkipSeparators(std::string_view& rest) {
  size_t n = rest.find_first_not_of(", ");
  if (n == std::string_view::npos) n = rest.size();
  rest.remove_prefix(n);
  return n;
}

// "%[^, ]%*[, ]%[^, ]": two paths joined by commas and/or blanks; the rest is ignored.
bool MatchEntry(std::string_view line, std::string& pattern, std::string& lut) {
  std::string_view first = TakePath(line);
  if (first.empty() || SkipSeparators(line) == 0) return false;
  std::string_view second = TakePath(line);
  if (second.empty()) return false;
  pattern.assign(first);
  lut.assign(second);
  return true;
}

// Comments begin with "/". Absolute paths do too on this platform, so a line that begins
// with a single "/" still counts as an entry when both of its paths are absolute, as the
// writer writes them.
bool IsComment(std::string_view line, const std::string& lut) {
  return line[0] == '/' && (line.starts_with("//") || lut[0] != '/');
}

}  // namespace

void ClearImageList(ImageList& list) { list.clear(); }

bool ReadSequenceEntries(const std::string& path, ImageList& list, int& state) {
  state = 2;
  if (path.find(".SIF") == std::string::npos && path.find(".sif") == std::string::npos) return false;
  CFile file;
  if (!file.Open(path)) return false;

  // Read into a list of our own so that a file that fails half way leaves the old one.
  ImageList entries;
  CTextReader in(file);
  std::string line, pattern, lut;
  for (;;) {
    CTextReader::Line kind = in.ReadLine(line, MAX_SEQUENCE_LINE);
    if (kind == CTextReader::Line::End) break;
    if (kind == CTextReader::Line::TooLong) continue;  // skip it, the entries after it count
    if (line.empty() || !MatchEntry(line, pattern, lut) || IsComment(line, lut)) continue;
    auto entry = std::unique_ptr<Image_Entry>(new (std::nothrow) Image_Entry);
    if (!entry) {
      AppMessageBox("Error allocating memory for ReadSequenceFile");
      break;
    }
    entry->PatternFile = AbsolutePath(pattern);
    entry->LUTFile = AbsolutePath(lut);
    entries.push_back(std::move(entry));
  }
  if (in.Failed()) return false;

  list = std::move(entries);
  if (list.empty()) AppMessageBox("Empty SIF");
  state = 3;
  return true;
}

bool WriteSequenceFile(const std::string& path, const ImageList& list) {
  std::string text;
  for (const auto& entry : list) {
    text += entry->PatternFile;
    text += ", ";
    text += entry->LUTFile;
    text += '\n';
  }
  if (ReplaceFile(path, {text})) return true;
  MessageBox(nullptr, "Can't create File " + path, "FILE ERROR", MessageIcon::Error);
  return false;
}
