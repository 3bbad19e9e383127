#pragma once
// What sysfs says about the cards with the bridge's ids: where they sit, their BARs and
// interrupt line, which driver holds them, their IOMMU group and its file under the VFIO
// root, and everything that stands in the way of taking them through vfio-pci. Reading
// sysfs never fails as a whole: a device whose files are missing or malformed is skipped
// with the reason.

#include <cstdint>
#include <string>
#include <vector>

#include "Kernel.h"
#include "pci/Facility.h"

namespace vfio {

constexpr const char* SYSFS_VARIABLE = "SORREL_SYSFS_ROOT";
constexpr const char* VFIO_VARIABLE = "SORREL_VFIO_ROOT";
constexpr const char* VFIO_DRIVER = "vfio-pci";

// Where sysfs and the VFIO device files are; tests and diagnosis move them.
struct Roots {
  std::string sysfs = "/sys";
  std::string vfio = "/dev/vfio";

  std::string Devices() const { return sysfs + "/bus/pci/devices"; }
  std::string Device(const std::string& address) const { return Devices() + "/" + address; }
  std::string Container() const { return vfio + "/vfio"; }
};

// SORREL_SYSFS_ROOT and SORREL_VFIO_ROOT when set, the system's folders otherwise.
Roots RootsFromEnvironment();

// The guide to setting a machine up for a real card, where it is installed with the
// library that asks (share/doc/sorrel/real-card.md), named so wherever it is run from.
std::string Guide();

struct Bar {
  uint64_t start = 0;
  uint64_t size = 0;  // 0: the BAR is not implemented
  bool memory = true;
};

constexpr uint32_t BAR_COUNT = 6;

struct SurveyedCard {
  pci::BusCard listing;
  pci::Location location{};
  Bar bars[BAR_COUNT];
  std::string groupFile;     // the group's file under the VFIO root; empty when there is none
  bool noIommu = false;      // the group is one of the no-IOMMU mode
  bool describable = false;  // its ids, BARs and interrupt line were all read
  bool Bound() const { return listing.Driver == VFIO_DRIVER; }
};

struct Survey {
  std::string devices;  // the folder read
  std::vector<SurveyedCard> cards;
  std::vector<std::string> skipped;
};

Survey SurveyBus(IKernel& kernel, const Roots& roots);

// The cards the VFIO backend can describe and drive: bound to vfio-pci, files complete.
std::vector<SurveyedCard> ServedCards(const Survey& survey);

// "0000:03:00.0 (driver plx)" or "0000:03:00.0 (no driver)", joined with ", ".
std::string NameOthers(const std::vector<SurveyedCard>& cards);

// The parts in order with the separator between them.
std::string Joined(const std::vector<std::string>& parts, const char* separator = ", ");

// A length rounded up to whole pages, as the kernel maps it.
size_t PageAligned(uint64_t length);

}  // namespace vfio
