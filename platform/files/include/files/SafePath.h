#pragma once
// Reaching a file without being led by someone else's symbolic link. A link is followed
// only when it belongs to this process's user (or root), or when the folder holding it
// can be written by nobody but this user (and root): a link that another user could have
// planted in a shared folder is refused, so a save never writes through it.

#include <sys/types.h>

#include <string>

// errno when a path leads through a link that another user could have planted.
inline constexpr int EPLANTEDLINK = 0x1000;

// What an errno means for a file, in words: the C library's text, or for EPLANTEDLINK
// what happened and what to do.
std::string FileErrorText(int error);

// The folder that holds path's last component, opened for use with the *at calls
// (O_PATH), after following the links that may be followed, and that component's name
// in it. A missing last component is no failure (a new file goes there); a missing folder
// is. Owns its descriptor.
class CFileSpot {
 public:
  CFileSpot() = default;
  ~CFileSpot();
  CFileSpot(const CFileSpot&) = delete;
  CFileSpot& operator=(const CFileSpot&) = delete;

  // False with errno when the path cannot be followed to its folder.
  bool Find(const std::string& path);

  int Folder() const { return m_Folder; }
  const std::string& Name() const { return m_Name; }

 private:
  int m_Folder = -1;
  std::string m_Name;
};

// Opens path as open(2) would, but through CFileSpot and never following a link at the
// last component after that; -1 with errno on failure.
int OpenSafely(const std::string& path, int flags, mode_t mode = 0);
