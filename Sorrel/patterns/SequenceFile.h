#pragma once
// Sequence instruction files (*.sif) and the image list they fill: one entry per line,
// a pattern path and a LUT path; list position i is board frame i.

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Image_Entry {
  std::string PatternFile;  // full path of a bitmap or Zernike file
  std::string LUTFile;      // full path of the lookup-table file
  uint8_t Valid = 1;        // 0 when the pattern or the LUT failed at the last download
};

// The sequence: entries owned by the list, in order.
using ImageList = std::vector<std::unique_ptr<Image_Entry>>;

// Longest SIF line: two paths of the platform's longest length and their separator, as
// the writer writes them. Longer lines are skipped.
constexpr size_t MAX_SEQUENCE_LINE = 2 * (PATH_MAX - 1) + 2;

// state 2 and false: the name has no ".SIF"/".sif", the file cannot be opened or cannot be
// read to its end; the list is left as it was. state 3 and true: the list holds exactly the
// file's entries, each path made absolute ("Empty SIF" when there are none).
bool ReadSequenceEntries(const std::string& path, ImageList& list, int& state);

// Replaces the file at path with one "%s, %s" line per entry, whole (ReplaceFile): on any
// failure the old file is left as it was, "Can't create File %s" is shown, and the result
// is false.
bool WriteSequenceFile(const std::string& path, const ImageList& list);

void ClearImageList(ImageList& list);
