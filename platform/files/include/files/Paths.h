#pragma once
// Paths as the operator sees them: a folder, a name and an extension.

#include <string>

struct SplitPathParts {
  std::string folder;     // everything up to and including the last "/"; empty without one
  std::string name;       // the last component up to its last "."
  std::string extension;  // from that "." on; empty without one
};

SplitPathParts SplitPath(const std::string& path);

// The last component of path, name and extension together: what file boxes and list
// lines show.
std::string NameAndExtension(const std::string& path);
