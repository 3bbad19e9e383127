#include "LUTFile.h"

#include <climits>

#include "File.h"

namespace {

// One "%d": blanks, an optional sign, at least one digit. Values beyond int saturate, so
// they are refused like any other out-of-range number. c holds the first unread byte.
bool ReadInt(CTextReader& in, int& c, long long& value) {
  while (IsSpace(c)) c = in.Get();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = in.Get();
  }
  if (c < '0' || c > '9') return false;
  long long v = 0;
  for (; c >= '0' && c <= '9'; c = in.Get())
    if (v <= INT_MAX) v = v * 10 + (c - '0');
  value = negative ? -v : v;
  return true;
}

}  // namespace

bool ReadLUTFile(const std::string& path, uint8_t table[256]) {
  CFile file;
  if (file.Open(path)) {
    CTextReader in(file);
    int c = in.Get();
    int accepted = 0;
    for (int i = 0; i < 256; ++i) {
      long long index, value;
      if (!ReadInt(in, c, index) || !ReadInt(in, c, value) || index != i || value < 0 || value > 255) break;
      table[i] = static_cast<uint8_t>(value);
      ++accepted;
    }
    if (accepted == 256) return true;
  }
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  return false;
}
