#include "files/Paths.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

SplitPathParts SplitPath(const std::string& path) {
  SplitPathParts parts;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  parts.folder = path.substr(0, nameStart);
  const size_t dot = path.rfind('.');
  const size_t nameEnd = dot == std::string::npos || dot < nameStart ? path.size() : dot;
  parts.name = path.substr(nameStart, nameEnd - nameStart);
  parts.extension = path.substr(nameEnd);
  return parts;
}

std::string NameAndExtension(const std::string& path) {
  const SplitPathParts parts = SplitPath(path);
  return parts.name + parts.extension;
}

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

std::string InstalledFile(const std::string& binary, const std::string& relative) {
  // A library found through the program's RUNPATH is named as <prefix>/bin/../lib/...
  std::filesystem::path folder = std::filesystem::path(binary).lexically_normal().parent_path();
  for (int level = 0; level < 4 && !folder.empty(); ++level, folder = folder.parent_path()) {
    std::error_code error;
    if (std::filesystem::exists(folder / relative, error)) return (folder / relative).string();
    if (folder == folder.root_path()) break;
  }
  return {};
}
