#pragma once
// Files for tests: a temporary folder that goes with everything in it, and whole files
// written and read back as bytes.

#include <cstdint>
#include <string>
#include <vector>

// A folder under the system's temporary directory, removed with everything in it (also
// after a test took permissions away).
class CTempFolder {
 public:
  CTempFolder();
  ~CTempFolder();
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  const std::string& Path() const { return m_Path; }
  std::string Path(const std::string& name) const { return m_Path + "/" + name; }

 private:
  std::string m_Path;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
// The whole file; empty when it cannot be read.
std::string ReadText(const std::string& path);
