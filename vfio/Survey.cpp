#include "Survey.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <tuple>

#include "BoardRegisters.h"
#include "files/Paths.h"

namespace vfio {

// Named inside messages beside the error that caused them: errno is kept for that error.
std::string Guide() {
  const int savedErrno = errno;
  Dl_info self{};
  const std::string library =
      dladdr(reinterpret_cast<const void*>(&Guide), &self) != 0 && self.dli_fname != nullptr ? self.dli_fname : "";
  const std::string installed = InstalledFile(library, "share/doc/sorrel/real-card.md");
  errno = savedErrno;
  return installed.empty() ? "real-card.md of Sorrel's documentation (share/doc/sorrel)" : installed;
}
namespace {

constexpr uint64_t IORESOURCE_IO = 0x100;
constexpr uint64_t IORESOURCE_MEM = 0x200;
constexpr uint64_t FOUR_GB = 0x100000000ull;
constexpr uint32_t CLASS_PCI_BRIDGE = 0x0604;
constexpr uint32_t CLASS_SEMI_TRANSPARENT_BRIDGE = 0x0609;
// Drivers a device may have and still leave its IOMMU group to a vfio-pci user.
constexpr std::string_view GROUP_FRIENDLY_DRIVERS[] = {"", "vfio-pci", "pci-stub"};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

bool ParseDigits(std::string_view text, int base, size_t maxDigits, uint64_t& value) {
  if (text.empty() || text.size() > maxDigits) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  return error == std::errc() && stop == end;
}

// "0x" and up to 16 hex digits, as sysfs writes ids, classes and resources.
bool ParseHex(std::string_view text, uint64_t& value) {
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  return ParseDigits(text.substr(2), 16, 16, value);
}

// domain:bus:slot.function, the domain of 4 to 8 hex digits.
bool ParseAddress(std::string_view name, pci::Location& location) {
  const size_t colon = name.find(':');
  uint64_t domain = 0, bus = 0, slot = 0, function = 0;
  if (colon < 4 || colon > 8 || name.size() != colon + 8 || name[colon + 3] != ':' || name[colon + 6] != '.' ||
      !ParseDigits(name.substr(0, colon), 16, 8, domain) || !ParseDigits(name.substr(colon + 1, 2), 16, 2, bus) ||
      !ParseDigits(name.substr(colon + 4, 2), 16, 2, slot) || !ParseDigits(name.substr(colon + 7, 1), 16, 1, function) ||
      domain > 0xFFFFFF || slot > 31 || function > 7) {
    return false;
  }
  location = {static_cast<uint32_t>(domain << 8 | bus), static_cast<uint32_t>(slot), static_cast<uint32_t>(function)};
  return true;
}

std::string Unreadable(const char* file) {
  return std::string("the ") + file + " file cannot be read (" + std::strerror(errno) + ")";
}

std::string Malformed(const char* file) { return std::string("the ") + file + " file is malformed"; }

// A 16-bit id file ("0x10b5"); false with the reason when it cannot be read or is malformed.
bool ReadId(IKernel& kernel, const std::string& device, const char* file, uint32_t& id, std::string& reason) {
  std::string text;
  if (!kernel.ReadText(device + "/" + file, text)) {
    reason = Unreadable(file);
    return false;
  }
  uint64_t value = 0;
  if (!ParseHex(Trimmed(text), value) || value > 0xFFFF) {
    reason = Malformed(file);
    return false;
  }
  id = static_cast<uint32_t>(value);
  return true;
}

bool ReadIrq(IKernel& kernel, const std::string& device, uint32_t& irq, std::string& reason) {
  std::string text;
  if (!kernel.ReadText(device + "/irq", text)) {
    reason = Unreadable("irq");
    return false;
  }
  uint64_t value = 0;
  if (!ParseDigits(Trimmed(text), 10, 10, value) || value > 0xFFFFFFFF) {
    reason = Malformed("irq");
    return false;
  }
  irq = static_cast<uint32_t>(value);
  return true;
}

// The six BAR lines of the resource file: start, end and flags in hex.
bool ParseResources(const std::string& text, Bar bars[BAR_COUNT]) {
  size_t at = 0;
  for (uint32_t bar = 0; bar < BAR_COUNT; ++bar) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      return false;
    }
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    uint64_t fields[3] = {};
    for (uint64_t& field : fields) {
      line = Trimmed(line);
      const size_t space = std::min(line.find(' '), line.size());
      if (!ParseHex(line.substr(0, space), field)) {
        return false;
      }
      line.remove_prefix(space);
    }
    const auto [start, last, flags] = fields;
    if (!Trimmed(line).empty() || last < start) {
      return false;
    }
    bars[bar] = {};
    if (start != 0 && (flags & (IORESOURCE_IO | IORESOURCE_MEM)) != 0) {
      bars[bar] = {start, last - start + 1, (flags & IORESOURCE_MEM) != 0};
    }
  }
  return true;
}

// The last part of a link's target: the driver's or the group's name; empty without the link.
std::string LinkName(IKernel& kernel, const std::string& path) {
  std::string target;
  if (!kernel.ReadLink(path, target)) {
    return {};
  }
  return target.substr(target.rfind('/') + 1);
}

bool IsBridge(IKernel& kernel, const std::string& device) {
  std::string text;
  uint64_t value = 0;
  return kernel.ReadText(device + "/class", text) && ParseHex(Trimmed(text), value) &&
         ((value >> 8) == CLASS_PCI_BRIDGE || (value >> 8) == CLASS_SEMI_TRANSPARENT_BRIDGE);
}

// Devices in the card's group that keep vfio-pci from taking the group.
std::vector<std::string> GroupBlockers(IKernel& kernel, const Roots& roots, const SurveyedCard& card) {
  std::vector<std::string> names;
  std::vector<std::string> blockers;
  if (!kernel.ListFolder(roots.sysfs + "/kernel/iommu_groups/" + card.listing.IommuGroup + "/devices", names)) {
    return blockers;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string driver = LinkName(kernel, roots.Device(name) + "/driver");
    if (name != card.listing.Address && !IsBridge(kernel, roots.Device(name)) &&
        std::find(std::begin(GROUP_FRIENDLY_DRIVERS), std::end(GROUP_FRIENDLY_DRIVERS), driver) ==
            std::end(GROUP_FRIENDLY_DRIVERS)) {
      blockers.push_back(name + " (driver " + driver + ")");
    }
  }
  return blockers;
}

// Finds the group's file under the VFIO root, the ordinary one or the no-IOMMU mode's.
void FindGroupFile(IKernel& kernel, const Roots& roots, SurveyedCard& card) {
  const std::string& group = card.listing.IommuGroup;
  std::vector<std::string>& problems = card.listing.Problems;
  for (const bool noIommu : {false, true}) {
    const std::string file = roots.vfio + (noIommu ? "/noiommu-" : "/") + group;
    if (kernel.MayOpen(file)) {
      card.groupFile = file;
      card.noIommu = noIommu;
      card.listing.IommuGroup = noIommu ? "noiommu-" + group : group;
      return;
    }
    if (errno != ENOENT) {
      problems.push_back("this user may not open " + file + " (" + std::strerror(errno) +
                         "): give it access with the udev rule of " + Guide());
      return;
    }
  }
  problems.push_back("neither " + roots.vfio + "/" + group + " nor " + roots.vfio + "/noiommu-" + group + " exists");
}

// Everything that stands in the way of driving the card through vfio-pci, in the order a
// person setting it up meets them.
void FindProblems(IKernel& kernel, const Roots& roots, SurveyedCard& card) {
  std::vector<std::string>& problems = card.listing.Problems;
  const pci::BusCard& listing = card.listing;
  if (!card.Bound()) {
    problems.push_back(listing.Driver.empty() ? "no driver is bound to it; bind it to vfio-pci"
                                              : "it is bound to " + listing.Driver + ", not to vfio-pci");
  } else if (listing.IommuGroup.empty()) {
    problems.push_back("it has no IOMMU group: turn the IOMMU or the no-IOMMU mode on");
  } else {
    const std::vector<std::string> blockers = GroupBlockers(kernel, roots, card);
    if (!blockers.empty()) {
      problems.push_back("its IOMMU group " + listing.IommuGroup + " also holds " + Joined(blockers) +
                         ": every device of the group must be bound to vfio-pci or to no driver");
    }
    FindGroupFile(kernel, roots, card);
    if (!kernel.MayOpen(roots.Container())) {
      problems.push_back("this user may not open " + roots.Container() + " (" + std::strerror(errno) +
                         "): is the vfio-pci module loaded?");
    }
  }
  if (listing.Irq == 0) {
    problems.push_back("it has no interrupt line");
  } else if (!listing.IrqSharedWith.empty()) {
    problems.push_back("its interrupt line " + std::to_string(listing.Irq) + " is shared with " +
                       Joined(listing.IrqSharedWith) + ": this bridge needs a line of its own");
  }
}

struct Line {
  std::string address;
  uint32_t irq;
};

// Reads what the backend and the listing need of one card with the bridge's ids.
SurveyedCard ReadCard(IKernel& kernel, const Roots& roots, const std::string& address, const pci::Location& location) {
  SurveyedCard card;
  card.location = location;
  pci::BusCard& listing = card.listing;
  listing.Address = address;
  listing.VendorId = PLX_VENDOR_ID;
  listing.DeviceId = PLX_DEVICE_ID;
  const std::string device = roots.Device(address);
  listing.Driver = LinkName(kernel, device + "/driver");
  listing.IommuGroup = LinkName(kernel, device + "/iommu_group");

  std::string reason;
  std::string resources;
  if (!ReadId(kernel, device, "subsystem_vendor", listing.SubsystemVendorId, reason) ||
      !ReadId(kernel, device, "subsystem_device", listing.SubsystemId, reason) ||
      !ReadIrq(kernel, device, listing.Irq, reason)) {
    listing.Problems.push_back(reason);
  } else if (!kernel.ReadText(device + "/resource", resources)) {
    listing.Problems.push_back(Unreadable("resource"));
  } else if (!ParseResources(resources, card.bars)) {
    listing.Problems.push_back(Malformed("resource"));
  } else {
    card.describable = true;
    for (uint32_t bar = 0; bar < BAR_COUNT; ++bar) {
      if (card.bars[bar].size != 0 && card.bars[bar].start + card.bars[bar].size > FOUR_GB) {
        listing.Problems.push_back("BAR" + std::to_string(bar) + " lies above 4 GB, beyond this bridge's reach");
        card.describable = false;
      }
    }
  }
  return card;
}

}  // namespace

Roots RootsFromEnvironment() {
  Roots roots;
  if (const char* sysfs = std::getenv(SYSFS_VARIABLE); sysfs != nullptr && sysfs[0] != '\0') {
    roots.sysfs = sysfs;
  }
  if (const char* vfio = std::getenv(VFIO_VARIABLE); vfio != nullptr && vfio[0] != '\0') {
    roots.vfio = vfio;
  }
  return roots;
}

Survey SurveyBus(IKernel& kernel, const Roots& roots) {
  Survey survey;
  survey.devices = roots.Devices();
  std::vector<std::string> names;
  if (!kernel.ListFolder(survey.devices, names)) {
    survey.skipped.push_back(survey.devices + ": the folder cannot be read (" + std::strerror(errno) + ")");
    return survey;
  }
  std::vector<Line> lines;
  for (const std::string& name : names) {
    pci::Location location{};
    if (!ParseAddress(name, location)) {
      survey.skipped.push_back(name + ": not a PCI address");
      continue;
    }
    const std::string device = roots.Device(name);
    std::string reason;
    uint32_t vendor = 0, deviceId = 0, irq = 0;
    if (!ReadId(kernel, device, "vendor", vendor, reason) || !ReadId(kernel, device, "device", deviceId, reason)) {
      survey.skipped.push_back(name + ": " + reason);
      continue;
    }
    if (ReadIrq(kernel, device, irq, reason) && irq != 0) {
      lines.push_back({name, irq});
    }
    if (vendor == PLX_VENDOR_ID && deviceId == PLX_DEVICE_ID) {
      survey.cards.push_back(ReadCard(kernel, roots, name, location));
    }
  }
  std::sort(survey.cards.begin(), survey.cards.end(), [](const SurveyedCard& a, const SurveyedCard& b) {
    return std::tie(a.location.Bus, a.location.Slot, a.location.Function) <
           std::tie(b.location.Bus, b.location.Slot, b.location.Function);
  });
  std::sort(survey.skipped.begin(), survey.skipped.end());
  for (SurveyedCard& card : survey.cards) {
    if (!card.describable) {
      continue;  // what is known of it would only mislead
    }
    for (const Line& line : lines) {
      if (line.irq == card.listing.Irq && line.address != card.listing.Address) {
        card.listing.IrqSharedWith.push_back(line.address);
      }
    }
    std::sort(card.listing.IrqSharedWith.begin(), card.listing.IrqSharedWith.end());
    FindProblems(kernel, roots, card);
  }
  return survey;
}

std::vector<SurveyedCard> ServedCards(const Survey& survey) {
  std::vector<SurveyedCard> served;
  for (const SurveyedCard& card : survey.cards) {
    if (card.describable && card.Bound()) {
      served.push_back(card);
    }
  }
  return served;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : separator) + part;
  }
  return text;
}

size_t PageAligned(uint64_t length) {
  const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return static_cast<size_t>((length + page - 1) / page * page);
}

std::string NameOthers(const std::vector<SurveyedCard>& cards) {
  std::vector<std::string> names;
  for (const SurveyedCard& card : cards) {
    const std::string& driver = card.listing.Driver;
    names.push_back(card.listing.Address + (driver.empty() ? " (no driver)" : " (driver " + driver + ")"));
  }
  return Joined(names);
}

}  // namespace vfio
