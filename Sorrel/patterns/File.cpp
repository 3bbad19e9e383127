#include "File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool CFile::Open(const std::string& path) {
  Close();
  // Non-blocking so that opening a pipe cannot hang; cleared again for a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  m_fd = fd;
  return true;
}

void CFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

ptrdiff_t CFile::Read(void* buffer, size_t count) { return ReadFully(buffer, count, std::nullopt); }

ptrdiff_t CFile::ReadAt(void* buffer, size_t count, uint64_t offset) { return ReadFully(buffer, count, offset); }

ptrdiff_t CFile::ReadFully(void* buffer, size_t count, std::optional<uint64_t> offset) {
  if (m_fd < 0) return -1;
  size_t done = 0;
  while (done < count) {
    char* at = static_cast<char*>(buffer) + done;
    ssize_t n = offset ? ::pread(m_fd, at, count - done, static_cast<off_t>(*offset + done))
                       : ::read(m_fd, at, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ptrdiff_t>(done);
}

int64_t CFile::Length() const {
  struct stat st;
  if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return -1;
  return st.st_size;
}

int64_t CFile::Position() const {
  if (m_fd < 0) return -1;
  return ::lseek(m_fd, 0, SEEK_CUR);
}

bool CTextReader::Fill() {
  if (m_bFailed) return false;
  ptrdiff_t n = m_File.Read(m_Buffer, sizeof m_Buffer);
  if (n < 0) m_bFailed = true;
  if (n <= 0) return false;
  m_Pos = 0;
  m_End = static_cast<size_t>(n);
  return true;
}

CTextReader::Line CTextReader::ReadLine(std::string& line, size_t maxLength) {
  line.clear();
  size_t length = 0;  // characters of the line, whether kept or not
  int c = Get();
  if (c < 0) return Line::End;
  while (c >= 0 && c != '\n') {
    if (length <= maxLength) line.push_back(static_cast<char>(c));
    ++length;
    c = Get();
  }
  if (length > 0 && line.size() == length && line.back() == '\r') {
    line.pop_back();
    --length;
  }
  if (length > maxLength) {
    line.clear();
    return Line::TooLong;
  }
  line.resize(std::strlen(line.c_str()));
  return Line::Ok;
}
