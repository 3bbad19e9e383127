#pragma once
// The IOMMU groups this process has open, each with its container. A group file can be
// open only once, so cards that share a group (several behind one PCI bridge) share it
// here; the last card to let go closes it.

#include <map>
#include <mutex>
#include <string>

#include "Kernel.h"
#include "Survey.h"

namespace vfio {

class CVfioGroups {
 public:
  CVfioGroups(IKernel& kernel, Roots roots) : m_Kernel(kernel), m_Roots(std::move(roots)) {}
  CVfioGroups(const CVfioGroups&) = delete;
  CVfioGroups& operator=(const CVfioGroups&) = delete;

  // The group's descriptor, set in a container with its IOMMU model; -1 with the reason on
  // stderr (naming the card at address) when the kernel refuses.
  int Acquire(const std::string& file, bool noIommu, const std::string& address);
  void Release(const std::string& file);

 private:
  struct Group {
    int container = -1;
    int group = -1;
    int users = 0;
  };

  int OpenContainer(bool noIommu, const std::string& address, unsigned long& model);
  void CloseGroup(const Group& group);

  IKernel& m_Kernel;
  const Roots m_Roots;
  std::mutex m_Mutex;
  std::map<std::string, Group> m_Groups;
};

}  // namespace vfio
