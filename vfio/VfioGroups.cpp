#include "VfioGroups.h"

#include <fcntl.h>
#include <linux/vfio.h>

#include <cerrno>

#include "Report.h"

namespace vfio {
namespace {

void* Integer(unsigned long value) { return reinterpret_cast<void*>(value); }

}  // namespace

int CVfioGroups::OpenContainer(bool noIommu, const std::string& address, unsigned long& model) {
  const int container = m_Kernel.Open(m_Roots.Container(), O_RDWR);
  if (container < 0) {
    Report(address, "cannot open " + m_Roots.Container() + ": " + LastError());
    return -1;
  }
  const int version = m_Kernel.Ioctl(container, VFIO_GET_API_VERSION, nullptr);
  model = 0;
  if (version != VFIO_API_VERSION) {
    Report(address, "the kernel's VFIO interface is version " + std::to_string(version) + ", not " +
                        std::to_string(VFIO_API_VERSION));
  } else if (noIommu) {
    // The card never masters the bus, so it needs no translation; the kernel still has
    // to allow the mode.
    if (m_Kernel.Ioctl(container, VFIO_CHECK_EXTENSION, Integer(VFIO_NOIOMMU_IOMMU)) > 0) {
      model = VFIO_NOIOMMU_IOMMU;
    }
  } else {
    for (const unsigned long candidate : {VFIO_TYPE1v2_IOMMU, VFIO_TYPE1_IOMMU}) {
      if (model == 0 && m_Kernel.Ioctl(container, VFIO_CHECK_EXTENSION, Integer(candidate)) > 0) {
        model = candidate;
      }
    }
  }
  if (version == VFIO_API_VERSION && model == 0) {
    Report(address, noIommu ? "the kernel does not offer the no-IOMMU mode to this container"
                            : "the kernel offers no IOMMU model this program knows");
  }
  if (model == 0) {
    m_Kernel.Close(container);
    return -1;
  }
  return container;
}

int CVfioGroups::Acquire(const std::string& file, bool noIommu, const std::string& address) {
  std::lock_guard lock(m_Mutex);
  auto it = m_Groups.find(file);
  if (it != m_Groups.end()) {
    ++it->second.users;
    return it->second.group;
  }
  Group group;
  unsigned long model = 0;
  group.container = OpenContainer(noIommu, address, model);
  if (group.container < 0) {
    return -1;
  }
  group.group = m_Kernel.Open(file, O_RDWR);
  if (group.group < 0) {
    const char* hint = errno == EBUSY                ? " (another program holds the group)"
                       : errno == EPERM && noIommu ? " (the no-IOMMU mode needs the CAP_SYS_RAWIO capability)"
                                                   : "";
    Report(address, "cannot open " + file + ": " + LastError() + hint);
    CloseGroup(group);
    return -1;
  }
  vfio_group_status status{};
  status.argsz = sizeof status;
  if (m_Kernel.Ioctl(group.group, VFIO_GROUP_GET_STATUS, &status) != 0) {
    Report(address, "the status of " + file + " cannot be read: " + LastError());
    CloseGroup(group);
    return -1;
  }
  if ((status.flags & VFIO_GROUP_FLAGS_VIABLE) == 0) {
    Report(address, "its IOMMU group is not viable: every device in it must be bound to vfio-pci or to no driver "
                    "(Sorrel --list-cards names them)");
    CloseGroup(group);
    return -1;
  }
  if (m_Kernel.Ioctl(group.group, VFIO_GROUP_SET_CONTAINER, &group.container) != 0 ||
      m_Kernel.Ioctl(group.container, VFIO_SET_IOMMU, Integer(model)) != 0) {
    Report(address, "the kernel refuses to set up the IOMMU for " + file + ": " + LastError() +
                        (noIommu ? " (the no-IOMMU mode needs the CAP_SYS_RAWIO capability)" : ""));
    CloseGroup(group);
    return -1;
  }
  group.users = 1;
  m_Groups.emplace(file, group);
  return group.group;
}

void CVfioGroups::Release(const std::string& file) {
  std::lock_guard lock(m_Mutex);
  auto it = m_Groups.find(file);
  if (it == m_Groups.end() || --it->second.users > 0) {
    return;
  }
  CloseGroup(it->second);
  m_Groups.erase(it);
}

void CVfioGroups::CloseGroup(const Group& group) {
  if (group.group >= 0) {
    m_Kernel.Close(group.group);
  }
  if (group.container >= 0) {
    m_Kernel.Close(group.container);
  }
}

}  // namespace vfio
