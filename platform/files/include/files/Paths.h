#pragma once
// Paths as the operator sees them: a folder, a name and an extension; and paths made
// absolute as the files name them.

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

// The path made absolute against the working directory, without resolving links or
// requiring that it exists; empty when the result would not fit the platform's path limit.
std::string AbsolutePath(const std::string& path);

// Sorrel's data installed with a binary: <prefix>/<relative>, for a binary anywhere below
// <prefix> (bin/, lib/<triplet>/sorrel/), installed or in the build tree; empty when none
// of the binary's folders up to the fourth holds it.
std::string InstalledFile(const std::string& binary, const std::string& relative);
