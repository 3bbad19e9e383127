#pragma once
// Read errors on demand. The pattern tests are linked with -Wl,--wrap=read, so every read the
// readers make of a descriptor comes through here first. While a CFailingReads lives, reads
// of the file it names fail with EIO from the given one on (counting from 1).

#include <string>

class CFailingReads {
 public:
  CFailingReads(const std::string& path, int firstFailing);
  ~CFailingReads();
  CFailingReads(const CFailingReads&) = delete;
  CFailingReads& operator=(const CFailingReads&) = delete;

  // Reads of the file so far, the failed ones included.
  int Reads() const;
};
