#include "SequenceFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "File.h"
#include "Sorrel.h"
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

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes text to a new file beside target and renames it over target once it is on disk.
bool ReplaceFile(const std::string& target, const std::string& text) {
  std::string path = target;
  struct stat st;
  bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    // Replace the file the link names, not the link.
    char resolved[PATH_MAX];
    if (::realpath(target.c_str(), resolved) == nullptr) return false;
    path = resolved;
    exists = ::stat(path.c_str(), &st) == 0;
  }
  static std::atomic<unsigned> counter{0};
  std::string temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  if (ok && exists) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself lasts only once the folder is on disk.
  int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::string absolute;
  if (!path.empty() && path[0] == '/') {
    absolute = path;
  } else {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return {};
    absolute = cwd;
    if (absolute.back() != '/') absolute += '/';
    absolute += path;
  }
  if (absolute.size() >= PATH_MAX) return {};
  return absolute;
}

void ClearImageList(ImageList& list) { list.clear(); }

bool ReadSequenceFile(const std::string& path, ImageList& list, int& state) {
  state = 2;
  if (path.find(".SIF") == std::string::npos && path.find(".sif") == std::string::npos) return false;
  CFile file;
  if (!file.Open(path)) return false;

  // Read into a list of our own so that a file that fails half way leaves the old one.
  ImageList entries;
  CTextReader in(file);
  std::string line, pattern, lut;
  for (;;) {
    CTextReader::Line kind = in.ReadLine(line, kMaxSequenceLine);
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

  if (theApp != nullptr) theApp->m_bSequenceModified = 0;
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
  if (ReplaceFile(path, text)) return true;
  MessageBox(nullptr, "Can't create File " + path, "FILE ERROR", MessageIcon::Error);
  return false;
}
