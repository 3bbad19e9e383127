#pragma once
// Reading files: a read-only file object over a descriptor that reports read errors, and a
// buffered text reader on top of it for the line- and number-based formats.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class CFile {
 public:
  CFile() = default;
  explicit CFile(int fd) : m_fd(fd) {}  // takes over an open descriptor
  ~CFile() { Close(); }

  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens a regular file for reading, sharing it with every other reader and writer.
  // Anything else (a folder, a device, a pipe) counts as a file that cannot be opened.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Reads up to count bytes from the current position; fewer only at the end of the file.
  // Returns the bytes read, or -1 on a read error.
  ptrdiff_t Read(void* buffer, size_t count);
  // The same at a file offset, leaving the current position alone.
  ptrdiff_t ReadAt(void* buffer, size_t count, uint64_t offset);
  // Length in bytes, or -1 when it cannot be told.
  int64_t Length() const;
  // The current position, or -1 when it cannot be told.
  int64_t Position() const;

 private:
  // Reads until count bytes are in or the file ends: at offset, or from the current position.
  ptrdiff_t ReadFully(void* buffer, size_t count, std::optional<uint64_t> offset);

  int m_fd = -1;
};

// White space as "%d" and "%s" skip it in the "C" locale.
constexpr bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

class CTextReader {
 public:
  // The text is read from the file this much at a time.
  static constexpr size_t BUFFER_BYTES = 16384;

  explicit CTextReader(CFile& file) : m_File(file) {}

  // The next byte, or -1 at the end of the text (also after a read error).
  int Get() {
    if (m_Pos == m_End && !Fill()) return -1;
    return static_cast<unsigned char>(m_Buffer[m_Pos++]);
  }
  // True when a read error ended the text early.
  bool Failed() const { return m_bFailed; }

  enum class Line { Ok, TooLong, End };
  // The next line without its line end (LF, or CR LF as text mode reads it), cut at the
  // first NUL as C text is. A line longer than maxLength is consumed whole and reported
  // as TooLong so the caller can skip it and read on.
  Line ReadLine(std::string& line, size_t maxLength);

 private:
  bool Fill();

  CFile& m_File;
  char m_Buffer[BUFFER_BYTES];
  size_t m_Pos = 0;
  size_t m_End = 0;
  bool m_bFailed = false;
};
