#include "FakeKernel.h"

#include <linux/vfio.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "BoardRegisters.h"

namespace vfio {
namespace {

constexpr int REGION_SHIFT = 40;  // vfio-pci's region offsets in the device file
constexpr uint64_t REGION_MASK = (uint64_t{1} << REGION_SHIFT) - 1;
constexpr uint32_t FIRST_GROUP = 20;
constexpr uint32_t CONFIG_SIZE = 256;
constexpr uint32_t CONFIG_CLASS = 0x08;
constexpr uint32_t CONFIG_BAR0 = 0x10;
constexpr uint32_t CONFIG_SUBSYSTEM = 0x2C;
constexpr uint32_t CONFIG_INTERRUPT = 0x3C;
constexpr uint32_t BAR_PREFETCHABLE = 0x8;
constexpr uint64_t RESOURCE_IO = 0x40101;   // as sysfs shows an I/O BAR
constexpr uint64_t RESOURCE_MEM = 0x40200;  // and a memory BAR
constexpr uint64_t RESOURCE_PREFETCH = 0x2000;
constexpr uint32_t PAGE_MASK = 0xFFF;
constexpr uint32_t NO_VALUE = 0xFFFFFFFF;

// Devices of the machine that are not cards: one on the first card's interrupt line, one
// in its IOMMU group.
constexpr const char* LINE_NEIGHBOUR = "0000:00:1f.3";
constexpr const char* GROUP_NEIGHBOUR = "0000:00:1b.0";
constexpr const char* NEIGHBOUR_DRIVER = "snd_hda_intel";
constexpr uint32_t INTEL_VENDOR = 0x8086;

std::string Hex(uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

CFakeKernel::CFakeKernel(std::shared_ptr<pci::detail::IBackend> bus, const testing::FakeOptions& options,
                         const Roots& roots)
    : m_Bus(std::move(bus)), m_Roots(roots), m_NoIommu(options.noIommu) {
  const std::vector<pci::Location> locations = m_Bus->Scan(PLX_VENDOR_ID, PLX_DEVICE_ID);
  for (const pci::Location& location : locations) {
    AddCard(location, m_Cards.empty() ? &options : nullptr);
  }
}

CFakeKernel::~CFakeKernel() {
  Lock lock(m_Mutex);
  for (auto& card : m_Cards) {
    StopDelivery(lock, *card);
    if (card->attached != nullptr) {
      m_Bus->Detach(card->index);  // a device file left open
    }
  }
}

void CFakeKernel::AddDevice(const std::string& address, uint32_t vendor, uint32_t device, uint32_t irq,
                            const std::string& driver, uint32_t group) {
  const std::string folder = m_Roots.Device(address);
  m_Texts[folder + "/vendor"] = Hex(vendor, 4) + "\n";
  m_Texts[folder + "/device"] = Hex(device, 4) + "\n";
  m_Texts[folder + "/irq"] = std::to_string(irq) + "\n";
  if (!driver.empty()) {
    m_Links[folder + "/driver"] = "../../../bus/pci/drivers/" + driver;
  }
  const std::string name = std::to_string(group);
  m_Links[folder + "/iommu_group"] = "../../../kernel/iommu_groups/" + name;
  m_Links[m_Roots.sysfs + "/kernel/iommu_groups/" + name + "/devices/" + address] =
      "../../../../devices/pci0000:00/" + address;
}

void CFakeKernel::AddCard(const pci::Location& location, const testing::FakeOptions* options) {
  auto card = std::make_unique<Card>();
  m_Bus->FindCard(location, card->index);
  char address[32];
  std::snprintf(address, sizeof address, "0000:%02x:%02x.%x", location.Bus, location.Slot, location.Function);
  card->address = address;
  const std::string folder = m_Roots.Device(card->address);
  const std::string driver = options != nullptr ? options->driver : VFIO_DRIVER;
  const uint32_t group = FIRST_GROUP + static_cast<uint32_t>(m_Cards.size());
  const uint32_t irq = m_Bus->ConfigRead32(card->index, CONFIG_INTERRUPT) & 0xFF;
  const uint32_t subsystem = m_Bus->ConfigRead32(card->index, CONFIG_SUBSYSTEM);
  AddDevice(card->address, PLX_VENDOR_ID, PLX_DEVICE_ID, irq, driver, group);
  m_Texts[folder + "/subsystem_vendor"] = Hex(subsystem & 0xFFFF, 4) + "\n";
  m_Texts[folder + "/subsystem_device"] = Hex(subsystem >> 16, 4) + "\n";
  m_Texts[folder + "/class"] = Hex(m_Bus->ConfigRead32(card->index, CONFIG_CLASS) >> 8, 6) + "\n";
  m_ConfigFiles[folder + "/config"] = card.get();

  // BARs as the simulated bus assigned them; vfio-pci maps only those on a page boundary.
  pci::CardResources resources{};
  m_Bus->Resources(card->index, resources);
  uint64_t lines[BAR_COUNT][3] = {};
  for (uint32_t i = 0; i < resources.ItemCount; ++i) {
    const pci::ResourceItem& item = resources.Items[i];
    uint32_t bar = 0;
    if ((item.Type != pci::ITEM_MEMORY && item.Type != pci::ITEM_IO) || !m_Bus->BarOf(card->index, item, bar)) {
      continue;
    }
    const bool memory = item.Type == pci::ITEM_MEMORY;
    const uint64_t start = memory ? item.Memory.PhysicalAddress : item.Io.Port;
    const uint64_t size = memory ? item.Memory.Size : item.Io.Size;
    const bool prefetchable = (m_Bus->ConfigRead32(card->index, CONFIG_BAR0 + 4 * bar) & BAR_PREFETCHABLE) != 0;
    lines[bar][0] = start;
    lines[bar][1] = start + size - 1;
    lines[bar][2] = memory ? RESOURCE_MEM | (prefetchable ? RESOURCE_PREFETCH : 0) : RESOURCE_IO;
    const bool mappable = memory && (start & PAGE_MASK) == 0;
    card->regions[VFIO_PCI_BAR0_REGION_INDEX + bar] = {
        size, VFIO_REGION_INFO_FLAG_READ | VFIO_REGION_INFO_FLAG_WRITE | (mappable ? VFIO_REGION_INFO_FLAG_MMAP : 0u)};
  }
  std::string resourceText;
  for (const auto& line : lines) {
    resourceText += Hex(line[0], 16) + " " + Hex(line[1], 16) + " " + Hex(line[2], 16) + "\n";
  }
  for (int more = 0; more < 7; ++more) {  // the ROM and the bridge windows a device has none of
    resourceText += Hex(0, 16) + " " + Hex(0, 16) + " " + Hex(0, 16) + "\n";
  }
  m_Texts[folder + "/resource"] = resourceText;
  card->regions[VFIO_PCI_CONFIG_REGION_INDEX] = {CONFIG_SIZE,
                                                 VFIO_REGION_INFO_FLAG_READ | VFIO_REGION_INFO_FLAG_WRITE};

  if (driver == VFIO_DRIVER) {
    card->groupFile = m_Roots.vfio + (m_NoIommu ? "/noiommu-" : "/") + std::to_string(group);
    m_GroupFiles[card->groupFile] = card.get();
  }
  if (options != nullptr && options->sharedIrq) {
    AddDevice(LINE_NEIGHBOUR, INTEL_VENDOR, 0x293e, irq, NEIGHBOUR_DRIVER, FIRST_GROUP - 1);
    card->lineShared = true;
  }
  if (options != nullptr && options->groupNotViable) {
    AddDevice(GROUP_NEIGHBOUR, INTEL_VENDOR, 0x293f, 0, NEIGHBOUR_DRIVER, group);
    card->viable = false;
  }
  m_Cards.push_back(std::move(card));
}

testing::FakeCounts CFakeKernel::Counts() {
  Lock lock(m_Mutex);
  testing::FakeCounts counts = m_Counts;
  counts.openFiles = static_cast<uint32_t>(m_Files.size());
  for (const Mapping& mapping : m_Mappings) {
    counts.mappedBars |= 1u << mapping.bar;
  }
  return counts;
}

// ---- sysfs ----

bool CFakeKernel::Exists(const std::string& path) const {
  return m_Texts.contains(path) || m_Links.contains(path) || m_ConfigFiles.contains(path) ||
         m_GroupFiles.contains(path) || path == m_Roots.Container();
}

bool CFakeKernel::ReadText(const std::string& path, std::string& text) {
  const auto it = m_Texts.find(path);
  if (it == m_Texts.end()) {
    return Fail(ENOENT) == 0;
  }
  text = it->second;
  return true;
}

bool CFakeKernel::ReadLink(const std::string& path, std::string& target) {
  const auto it = m_Links.find(path);
  if (it == m_Links.end()) {
    return Fail(m_Texts.contains(path) ? EINVAL : ENOENT) == 0;
  }
  target = it->second;
  return true;
}

bool CFakeKernel::ListFolder(const std::string& path, std::vector<std::string>& names) {
  const std::string prefix = path + "/";
  std::set<std::string> found;
  auto take = [&](const std::string& key) {
    if (key.starts_with(prefix)) {
      found.insert(key.substr(prefix.size(), key.find('/', prefix.size()) - prefix.size()));
    }
  };
  for (const auto& [key, text] : m_Texts) take(key);
  for (const auto& [key, target] : m_Links) take(key);
  for (const auto& [key, card] : m_ConfigFiles) take(key);
  for (const auto& [key, card] : m_GroupFiles) take(key);
  take(m_Roots.Container());
  if (found.empty()) {
    return Fail(ENOENT) == 0;
  }
  names.assign(found.begin(), found.end());
  return true;
}

bool CFakeKernel::MayOpen(const std::string& path) { return Exists(path) || Fail(ENOENT) == 0; }

// ---- files ----

int CFakeKernel::NewFile(const File& file) {
  const int fd = m_Real.Eventfd();  // a descriptor of the process, so numbers never collide
  if (fd >= 0) {
    m_Files[fd] = file;
  }
  return fd;
}

int CFakeKernel::Open(const std::string& path, int) {
  Lock lock(m_Mutex);
  if (path == m_Roots.Container()) {
    return NewFile({Kind::Container});
  }
  if (const auto group = m_GroupFiles.find(path); group != m_GroupFiles.end()) {
    for (const auto& [fd, file] : m_Files) {
      if (file.kind == Kind::Group && file.card == group->second) {
        return Fail(EBUSY);  // a group file is open once at a time
      }
    }
    return NewFile({Kind::Group, group->second});
  }
  if (const auto config = m_ConfigFiles.find(path); config != m_ConfigFiles.end()) {
    return NewFile({Kind::Config, config->second});
  }
  return Fail(Exists(path) ? EACCES : ENOENT);
}

int CFakeKernel::Close(int fd) {
  Lock lock(m_Mutex);
  const auto it = m_Files.find(fd);
  if (it != m_Files.end()) {
    const File file = it->second;
    m_Files.erase(it);
    if (file.kind == Kind::Device) {
      Card& card = *file.card;
      StopDelivery(lock, card);
      card.attached = nullptr;
      m_Bus->Detach(card.index);
    }
  }
  lock.unlock();
  return m_Real.Close(fd);
}

// ---- ioctls ----

int CFakeKernel::Ioctl(int fd, unsigned long request, void* argument) {
  Lock lock(m_Mutex);
  const auto it = m_Files.find(fd);
  if (it == m_Files.end()) {
    return Fail(ENOTTY);
  }
  File& file = it->second;
  switch (file.kind) {
    case Kind::Container:
      return ContainerIoctl(fd, file, request, argument);
    case Kind::Group:
      return GroupIoctl(file, request, argument);
    case Kind::Device:
      return DeviceIoctl(lock, *file.card, request, argument);
    case Kind::Config:
      break;
  }
  return Fail(ENOTTY);
}

int CFakeKernel::ContainerIoctl(int fd, File& container, unsigned long request, void* argument) {
  const auto model = reinterpret_cast<uintptr_t>(argument);
  const bool offered = m_NoIommu ? model == VFIO_NOIOMMU_IOMMU : model == VFIO_TYPE1_IOMMU || model == VFIO_TYPE1v2_IOMMU;
  switch (request) {
    case VFIO_GET_API_VERSION:
      return VFIO_API_VERSION;
    case VFIO_CHECK_EXTENSION:
      return offered ? 1 : 0;
    case VFIO_SET_IOMMU: {
      bool hasGroup = false;
      for (const auto& [other, file] : m_Files) {
        hasGroup = hasGroup || (file.kind == Kind::Group && file.container == fd);
      }
      if (!hasGroup || !offered || container.iommuSet) {
        return Fail(EINVAL);
      }
      container.iommuSet = true;
      return 0;
    }
    default:
      return Fail(ENOTTY);
  }
}

int CFakeKernel::GroupIoctl(File& group, unsigned long request, void* argument) {
  Card& card = *group.card;
  switch (request) {
    case VFIO_GROUP_GET_STATUS: {
      auto* status = static_cast<vfio_group_status*>(argument);
      if (status->argsz < sizeof *status) {
        return Fail(EINVAL);
      }
      status->flags = (card.viable ? VFIO_GROUP_FLAGS_VIABLE : 0) | (group.container >= 0 ? VFIO_GROUP_FLAGS_CONTAINER_SET : 0);
      return 0;
    }
    case VFIO_GROUP_SET_CONTAINER: {
      const int container = *static_cast<const int*>(argument);
      const auto it = m_Files.find(container);
      if (it == m_Files.end() || it->second.kind != Kind::Container) {
        return Fail(EBADF);
      }
      if (!card.viable) {
        return Fail(EPERM);
      }
      if (group.container >= 0) {
        return Fail(EINVAL);
      }
      group.container = container;
      return 0;
    }
    case VFIO_GROUP_GET_DEVICE_FD: {
      const auto container = m_Files.find(group.container);
      if (container == m_Files.end() || !container->second.iommuSet) {
        return Fail(EINVAL);  // a device is handed out only once the group's IOMMU is set
      }
      if (card.address != static_cast<const char*>(argument)) {
        return Fail(ENODEV);
      }
      if (card.attached != nullptr) {
        return Fail(EBUSY);
      }
      card.attached = m_Bus->Attach(card.index);
      if (card.attached == nullptr) {
        return Fail(EBUSY);  // open in another process
      }
      card.masked = false;
      return NewFile({Kind::Device, &card});
    }
    default:
      return Fail(ENOTTY);
  }
}

int CFakeKernel::DeviceIoctl(Lock& lock, Card& card, unsigned long request, void* argument) {
  switch (request) {
    case VFIO_DEVICE_GET_INFO: {
      auto* info = static_cast<vfio_device_info*>(argument);
      if (info->argsz < sizeof *info) {
        return Fail(EINVAL);
      }
      info->flags = VFIO_DEVICE_FLAGS_PCI;
      info->num_regions = VFIO_REGIONS;
      info->num_irqs = VFIO_PCI_NUM_IRQS;
      return 0;
    }
    case VFIO_DEVICE_GET_REGION_INFO: {
      auto* info = static_cast<vfio_region_info*>(argument);
      if (info->argsz < sizeof *info || info->index >= VFIO_REGIONS) {
        return Fail(EINVAL);
      }
      info->flags = card.regions[info->index].flags;
      info->size = card.regions[info->index].size;
      info->offset = uint64_t{info->index} << REGION_SHIFT;
      info->cap_offset = 0;
      return 0;
    }
    case VFIO_DEVICE_GET_IRQ_INFO: {
      auto* info = static_cast<vfio_irq_info*>(argument);
      if (info->argsz < sizeof *info || info->index >= VFIO_PCI_NUM_IRQS) {
        return Fail(EINVAL);
      }
      const bool intx = info->index == VFIO_PCI_INTX_IRQ_INDEX;
      info->flags = intx ? VFIO_IRQ_INFO_EVENTFD | VFIO_IRQ_INFO_MASKABLE | VFIO_IRQ_INFO_AUTOMASKED : 0;
      info->count = intx ? 1 : 0;
      return 0;
    }
    case VFIO_DEVICE_SET_IRQS:
      return SetIrqs(lock, card, argument);
    default:
      return Fail(ENOTTY);
  }
}

int CFakeKernel::SetIrqs(Lock& lock, Card& card, const void* argument) {
  const auto* set = static_cast<const vfio_irq_set*>(argument);
  if (set->argsz < sizeof *set || set->index != VFIO_PCI_INTX_IRQ_INDEX || set->start != 0) {
    return Fail(EINVAL);
  }
  const uint32_t data = set->flags & VFIO_IRQ_SET_DATA_TYPE_MASK;
  const uint32_t action = set->flags & VFIO_IRQ_SET_ACTION_TYPE_MASK;
  if (action == VFIO_IRQ_SET_ACTION_TRIGGER && data == VFIO_IRQ_SET_DATA_EVENTFD && set->count == 1) {
    if (set->argsz < sizeof *set + sizeof(int32_t)) {
      return Fail(EINVAL);
    }
    if (card.lineShared) {
      return Fail(EBUSY);  // the line is taken, and this device cannot share it
    }
    int32_t eventfd = -1;
    std::memcpy(&eventfd, reinterpret_cast<const uint8_t*>(set) + sizeof *set, sizeof eventfd);
    card.trigger = eventfd;
    card.masked = false;
    if (!card.delivery.joinable()) {
      pci::detail::ICard* device = card.attached;
      card.delivery = std::jthread([this, &card, device](std::stop_token stop) { Deliver(card, device, stop); });
    }
    return 0;
  }
  if (action == VFIO_IRQ_SET_ACTION_TRIGGER && data == VFIO_IRQ_SET_DATA_NONE && set->count == 0) {
    StopDelivery(lock, card);
    return 0;
  }
  if (action == VFIO_IRQ_SET_ACTION_UNMASK && data == VFIO_IRQ_SET_DATA_NONE && set->count == 1) {
    card.masked = false;
    ++m_Counts.unmasks;
    card.unmasked.notify_all();
    return 0;
  }
  return Fail(EINVAL);
}

// Under the lock, which it lets go while the delivery thread ends.
void CFakeKernel::StopDelivery(Lock& lock, Card& card) {
  std::jthread delivery = std::move(card.delivery);
  card.trigger = -1;
  lock.unlock();
  if (delivery.joinable()) {
    delivery.request_stop();
    delivery.join();
  }
  lock.lock();
}

// The line as the kernel handles a device without the PCI 2.3 disable bit: when the card
// asserts it, mask it and signal the eventfd; while masked, an asserted line waits
// (level-triggered) and is signalled as soon as it is unmasked.
void CFakeKernel::Deliver(Card& card, pci::detail::ICard* device, std::stop_token stop) {
  bool signalledBefore = false;
  for (;;) {
    {
      Lock lock(m_Mutex);
      if (!card.unmasked.wait(lock, stop, [&card] { return !card.masked; })) {
        return;
      }
    }
    const uint32_t intcsr = device->Read32(0, BRIDGE_INTCSR);
    const bool held = signalledBefore && (intcsr & INTCSR_LOCAL_STATUS) != 0 && (intcsr & INTCSR_PCI_INT_ENABLE) != 0;
    if (!device->WaitInterrupt(stop)) {
      return;
    }
    int trigger = -1;
    {
      Lock lock(m_Mutex);
      card.masked = true;
      trigger = card.trigger;
      ++m_Counts.signalled;
      m_Counts.heldWhileMasked += held ? 1 : 0;
    }
    const uint64_t one = 1;
    m_Real.Write(trigger, &one, sizeof one);
    signalledBefore = true;
  }
}

// ---- regions ----

ssize_t CFakeKernel::ConfigAccess(const Card& card, bool write, void* buffer, size_t bytes, uint64_t offset) {
  if ((bytes != 2 && bytes != 4) || offset % bytes != 0 || offset + bytes > CONFIG_SIZE) {
    return Fail(EINVAL);
  }
  const auto dword = static_cast<uint32_t>(offset & ~uint64_t{3});
  const uint32_t shift = static_cast<uint32_t>(offset & 3) * 8;
  const uint32_t mask = bytes == 4 ? 0xFFFFFFFF : 0xFFFFu << shift;
  uint32_t value = m_Bus->ConfigRead32(card.index, dword);
  if (write) {
    uint32_t part = 0;
    std::memcpy(&part, buffer, bytes);
    m_Bus->ConfigWrite32(card.index, dword, (value & ~mask) | ((part << shift) & mask));
  } else {
    const uint32_t part = (value & mask) >> shift;
    std::memcpy(buffer, &part, bytes);
  }
  return static_cast<ssize_t>(bytes);
}

// A read or write of a sysfs configuration file or of a device file's regions.
ssize_t CFakeKernel::Access(int fd, bool write, void* buffer, size_t bytes, off_t offset) {
  Lock lock(m_Mutex);
  const auto it = m_Files.find(fd);
  if (it == m_Files.end() || (it->second.kind != Kind::Device && it->second.kind != Kind::Config)) {
    return Fail(EBADF);
  }
  Card& card = *it->second.card;
  const bool sysfs = it->second.kind == Kind::Config;
  const uint64_t index = sysfs ? uint64_t{VFIO_PCI_CONFIG_REGION_INDEX} : static_cast<uint64_t>(offset) >> REGION_SHIFT;
  const uint64_t at = static_cast<uint64_t>(offset) & REGION_MASK;
  if (index == VFIO_PCI_CONFIG_REGION_INDEX) {
    lock.unlock();
    return ConfigAccess(card, write, buffer, bytes, at);
  }
  if (index >= BAR_COUNT || card.regions[index].size == 0 || at > card.regions[index].size ||
      bytes > card.regions[index].size - at || bytes % 4 != 0 || at % 4 != 0) {
    return Fail(EINVAL);
  }
  const auto bar = static_cast<uint32_t>(index);
  const auto where = static_cast<uint32_t>(at);
  pci::detail::ICard* device = card.attached;
  ++m_Counts.fileAccesses[bar];
  lock.unlock();
  if (write) {
    device->WriteBlock(bar, where, buffer, static_cast<uint32_t>(bytes));
  } else {
    for (size_t done = 0; done < bytes; done += 4) {
      const uint32_t value = device->Read32(bar, where + static_cast<uint32_t>(done));
      std::memcpy(static_cast<uint8_t*>(buffer) + done, &value, 4);
    }
  }
  return static_cast<ssize_t>(bytes);
}

ssize_t CFakeKernel::Pread(int fd, void* buffer, size_t bytes, off_t offset) {
  return Access(fd, false, buffer, bytes, offset);
}

ssize_t CFakeKernel::Pwrite(int fd, const void* buffer, size_t bytes, off_t offset) {
  return Access(fd, true, const_cast<void*>(buffer), bytes, offset);
}

// ---- mappings ----

void* CFakeKernel::Mmap(size_t length, int protection, int fd, off_t offset) {
  if (fd < 0) {
    return m_Real.Mmap(length, protection, -1, 0);
  }
  Lock lock(m_Mutex);
  const auto it = m_Files.find(fd);
  const uint64_t index = static_cast<uint64_t>(offset) >> REGION_SHIFT;
  if (it == m_Files.end() || it->second.kind != Kind::Device || index >= BAR_COUNT ||
      (static_cast<uint64_t>(offset) & REGION_MASK) != 0) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  Card& card = *it->second.card;
  const Region& region = card.regions[index];
  if ((region.flags & VFIO_REGION_INFO_FLAG_MMAP) == 0 || length > PageAligned(region.size)) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  // Loads and stores come through Load32 and Store32; a stray direct access faults.
  void* base = m_Real.Mmap(length, PROT_NONE, -1, 0);
  if (base != MAP_FAILED) {
    m_Mappings.push_back({&card, static_cast<uint32_t>(index), reinterpret_cast<uintptr_t>(base), length});
  }
  return base;
}

int CFakeKernel::Munmap(void* address, size_t length) {
  {
    Lock lock(m_Mutex);
    std::erase_if(m_Mappings, [address](const Mapping& m) { return m.base == reinterpret_cast<uintptr_t>(address); });
  }
  return m_Real.Munmap(address, length);
}

pci::detail::ICard* CFakeKernel::Routed(uintptr_t address, size_t bytes, uint32_t& bar, uint32_t& offset) {
  Lock lock(m_Mutex);
  for (const Mapping& mapping : m_Mappings) {
    if (address >= mapping.base && address - mapping.base + bytes <= mapping.length && mapping.card->attached) {
      bar = mapping.bar;
      offset = static_cast<uint32_t>(address - mapping.base);
      ++m_Counts.mappedAccesses[bar];
      return mapping.card->attached;
    }
  }
  std::fprintf(stderr, "fake kernel: access to %#lx, which no device mapping covers\n",
               static_cast<unsigned long>(address));
  return nullptr;
}

uint32_t CFakeKernel::Load32(uintptr_t address) {
  uint32_t bar = 0, offset = 0;
  pci::detail::ICard* device = Routed(address, 4, bar, offset);
  return device != nullptr ? device->Read32(bar, offset) : NO_VALUE;
}

void CFakeKernel::Store32(uintptr_t address, uint32_t value) {
  uint32_t bar = 0, offset = 0;
  if (pci::detail::ICard* device = Routed(address, 4, bar, offset)) {
    device->Write32(bar, offset, value);
  }
}

void CFakeKernel::StoreBlock32(uintptr_t address, const void* source, size_t bytes) {
  uint32_t bar = 0, offset = 0;
  if (pci::detail::ICard* device = Routed(address, bytes, bar, offset)) {
    device->WriteBlock(bar, offset, source, static_cast<uint32_t>(bytes));
  }
}

}  // namespace vfio
