// The sequence reader, and the writer on what it read: a list written and read back is the
// same list when its paths are plain text.
#include "FuzzInput.h"
#include "SequenceFile.h"
#include "Sorrel.h"

namespace {

bool PlainPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (char c : path)
    if (c <= ' ' || c > '~' || c == ',') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UseBoard(0);
  const std::string path = WriteInput("input.sif", data, size);
  int state = 0;
  if (!ReadSequenceFile(path, theApp->m_ImageList, state) || state != 3) __builtin_trap();
  bool plain = true;
  for (const auto& entry : theApp->m_ImageList) plain = plain && PlainPath(entry->PatternFile) && PlainPath(entry->LUTFile);
  if (plain && !theApp->m_ImageList.empty()) {
    const std::string copy = WriteInput("copy.sif", nullptr, 0);
    if (!WriteSequenceFile(copy, theApp->m_ImageList)) __builtin_trap();
    ImageList back;
    if (!ReadSequenceFile(copy, back, state) || back.size() != theApp->m_ImageList.size()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
      if (back[i]->PatternFile != theApp->m_ImageList[i]->PatternFile ||
          back[i]->LUTFile != theApp->m_ImageList[i]->LUTFile)
        __builtin_trap();
  }
  ClearImageList(theApp->m_ImageList);
  return 0;
}
