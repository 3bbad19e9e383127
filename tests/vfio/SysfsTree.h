#pragma once
// A sysfs tree and a VFIO device folder written into a temporary folder, as the machine
// would show them, with the environment pointed at them for the test's scope.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "SimFixture.h"

namespace vfiotest {

// One PCI function as sysfs shows it; by default a bridge card bound to vfio-pci in group 12.
struct TreeDevice {
  std::string address = "0000:03:00.0";
  uint32_t vendor = 0x10B5;
  uint32_t device = 0x9050;
  uint32_t subsystemVendor = 0x10B5;
  uint32_t subsystemDevice = 0x2288;
  std::string classCode = "0x068000";
  uint32_t irq = 17;
  std::string driver = "vfio-pci";  // empty: no driver link
  std::string group = "12";         // empty: no iommu_group link
  // BAR0 memory at an odd 128-byte boundary, BAR1 I/O, BAR2 board registers, BAR3 frames.
  std::string resource =
      "0x00000000febf1080 0x00000000febf10ff 0x0000000000040200\n"
      "0x000000000000e000 0x000000000000e07f 0x0000000000040101\n"
      "0x00000000febf0000 0x00000000febf00ff 0x0000000000040200\n"
      "0x00000000fe800000 0x00000000fe83ffff 0x0000000000042208\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
  std::set<std::string> missing;                // attribute files left out
  std::map<std::string, std::string> replaced;  // attribute files with other contents
};

// A device at address with its driver (empty: none), IOMMU group (empty: none) and line.
inline TreeDevice At(const char* address, const char* driver, const char* group, uint32_t irq) {
  TreeDevice d;
  d.address = address;
  d.driver = driver;
  d.group = group;
  d.irq = irq;
  return d;
}

class CSysfsTree {
 public:
  CSysfsTree() {
    std::filesystem::create_directories(Sysfs() / "bus/pci/devices");
    std::filesystem::create_directories(Vfio());
    Touch(Vfio() / "vfio");
    setenv("SORREL_SYSFS_ROOT", Sysfs().c_str(), 1);
    setenv("SORREL_VFIO_ROOT", Vfio().c_str(), 1);
  }
  ~CSysfsTree() {
    unsetenv("SORREL_SYSFS_ROOT");
    unsetenv("SORREL_VFIO_ROOT");
  }

  std::filesystem::path Sysfs() const { return m_Root.Path() / "sys"; }
  std::filesystem::path Vfio() const { return m_Root.Path() / "dev/vfio"; }
  std::filesystem::path Folder(const std::string& address) const { return Sysfs() / "bus/pci/devices" / address; }

  // The device's folder with its attributes and links, and a member entry in its group.
  void Add(const TreeDevice& d) {
    const std::filesystem::path folder = Folder(d.address);
    std::filesystem::create_directories(folder);
    auto write = [&](const std::string& name, const std::string& text) {
      if (d.missing.count(name) != 0) return;
      const auto replaced = d.replaced.find(name);
      std::ofstream(folder / name) << (replaced != d.replaced.end() ? replaced->second : text);
    };
    write("vendor", Hex(d.vendor));
    write("device", Hex(d.device));
    write("subsystem_vendor", Hex(d.subsystemVendor));
    write("subsystem_device", Hex(d.subsystemDevice));
    write("class", d.classCode + "\n");
    write("irq", std::to_string(d.irq) + "\n");
    write("resource", d.resource);
    if (!d.driver.empty()) {
      std::filesystem::create_directory_symlink("../../../../bus/pci/drivers/" + d.driver, folder / "driver");
    }
    if (!d.group.empty()) {
      std::filesystem::create_directory_symlink("../../../../kernel/iommu_groups/" + d.group, folder / "iommu_group");
      const std::filesystem::path members = Sysfs() / "kernel/iommu_groups" / d.group / "devices";
      std::filesystem::create_directories(members);
      std::filesystem::create_directory_symlink("../../../../bus/pci/devices/" + d.address, members / d.address);
    }
  }
  // The group's device file, as vfio-pci makes it once a device of the group is bound.
  void AddGroupFile(const std::string& name) { Touch(Vfio() / name); }

 private:
  static std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x\n", value);
    return text;
  }
  static void Touch(const std::filesystem::path& path) { std::ofstream{path}; }

  simtest::TempFolder m_Root;
};

}  // namespace vfiotest
