// The sequence reader, and the writer on what it read: a list written and read back is the
// same list when its paths are plain text.
#include "FuzzInput.h"
#include "SequenceFile.h"

namespace {

bool PlainPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (char c : path)
    if (c <= ' ' || c > '~' || c == ',') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("input.sif", data, size);
  ImageList list;
  int state = 0;
  if (!ReadSequenceEntries(path, list, state) || state != 3) __builtin_trap();
  bool plain = true;
  for (const auto& entry : list) plain = plain && PlainPath(entry->PatternFile) && PlainPath(entry->LUTFile);
  if (plain && !list.empty()) {
    const std::string copy = WriteInput("copy.sif", nullptr, 0);
    if (!WriteSequenceFile(copy, list)) __builtin_trap();
    ImageList back;
    if (!ReadSequenceEntries(copy, back, state) || back.size() != list.size()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
      if (back[i]->PatternFile != list[i]->PatternFile ||
          back[i]->LUTFile != list[i]->LUTFile)
        __builtin_trap();
  }
  return 0;
}
