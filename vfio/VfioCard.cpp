#include "VfioCard.h"

#include <fcntl.h>
#include <linux/vfio.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "BoardRegisters.h"
#include "Report.h"

namespace vfio {
namespace {

constexpr uint32_t CONFIG_COMMAND = 0x04;
constexpr uint16_t COMMAND_IO = 1u << 0;
constexpr uint16_t COMMAND_MEMORY = 1u << 1;
constexpr uint32_t NO_VALUE = 0xFFFFFFFF;  // what a failed read gives, as a bus does
constexpr uint32_t FRAME_BAR = 3;          // the frame window

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

}  // namespace

CVfioCard::CVfioCard(IKernel& kernel, CVfioGroups& groups, const Roots& roots, SurveyedCard card)
    : m_Kernel(kernel),
      m_Groups(groups),
      m_SysfsConfig(roots.Device(card.listing.Address) + "/config"),
      m_Card(std::move(card)) {}

CVfioCard::~CVfioCard() { Detach(); }

// ---- attaching ----

bool CVfioCard::Attach() {
  std::lock_guard lock(m_Mutex);
  if (m_Device >= 0) {
    return false;
  }
  if (m_Card.groupFile.empty()) {
    Report(Address(), "cannot be opened: " + Joined(m_Card.listing.Problems, "; "));
    return false;
  }
  const int group = m_Groups.Acquire(m_Card.groupFile, m_Card.noIommu, Address());
  if (group < 0) {
    return false;
  }
  m_Device = m_Kernel.Ioctl(group, VFIO_GROUP_GET_DEVICE_FD, const_cast<char*>(Address().c_str()));
  if (m_Device < 0) {
    Report(Address(), "the kernel refuses the device: " + LastError() +
                          (errno == EBUSY ? " (another program has it open)" : ""));
    m_Groups.Release(m_Card.groupFile);
    return false;
  }
  if (!ReadRegions()) {
    CloseDevice();
    return false;
  }
  EnableDecoding();
  m_FailureReported = false;
  m_Shadow.Start(static_cast<uint32_t>(m_Card.bars[FRAME_BAR].size));
  return true;
}

void CVfioCard::Detach() {
  if (m_InterruptFd >= 0) {
    DisableInterrupt();
  }
  std::lock_guard lock(m_Mutex);
  if (m_Device >= 0) {
    CloseDevice();
  }
  m_Shadow.Stop();
}

void CVfioCard::CloseDevice() {
  for (Region& region : m_Bars) {
    if (region.mapped != 0) {
      m_Kernel.Munmap(reinterpret_cast<void*>(region.mapped), region.mappedLength);
    }
    region = {};
  }
  m_Config = {};
  m_Kernel.Close(m_Device);
  m_Device = -1;
  m_Groups.Release(m_Card.groupFile);
}

bool CVfioCard::ReadRegion(uint32_t index, Region& region) {
  vfio_region_info info{};
  info.argsz = sizeof info;
  info.index = index;
  if (m_Kernel.Ioctl(m_Device, VFIO_DEVICE_GET_REGION_INFO, &info) != 0) {
    Report(Address(), "the kernel does not describe region " + std::to_string(index) + ": " + LastError());
    return false;
  }
  const uint32_t both = VFIO_REGION_INFO_FLAG_READ | VFIO_REGION_INFO_FLAG_WRITE;
  if ((info.flags & both) != both) {
    Report(Address(), "region " + std::to_string(index) + " cannot be both read and written");
    return false;
  }
  region = {info.offset, info.size, info.flags, 0, 0};
  return true;
}

bool CVfioCard::ReadRegions() {
  vfio_device_info info{};
  info.argsz = sizeof info;
  if (m_Kernel.Ioctl(m_Device, VFIO_DEVICE_GET_INFO, &info) != 0) {
    Report(Address(), "the kernel does not describe the device: " + LastError());
    return false;
  }
  if ((info.flags & VFIO_DEVICE_FLAGS_PCI) == 0 || info.num_regions <= VFIO_PCI_CONFIG_REGION_INDEX) {
    Report(Address(), "the kernel does not offer it as a PCI device");
    return false;
  }
  for (uint32_t bar = 0; bar < BAR_COUNT; ++bar) {
    if (m_Card.bars[bar].size == 0) {
      continue;
    }
    if (!ReadRegion(VFIO_PCI_BAR0_REGION_INDEX + bar, m_Bars[bar])) {
      return false;
    }
    if (m_Bars[bar].size < m_Card.bars[bar].size) {
      Report(Address(), "the kernel offers " + std::to_string(m_Bars[bar].size) + " bytes of BAR" +
                            std::to_string(bar) + ", sysfs " + std::to_string(m_Card.bars[bar].size));
      return false;
    }
  }
  return ReadRegion(VFIO_PCI_CONFIG_REGION_INDEX, m_Config);
}

// Opening the device may leave decoding off; the card's BARs only answer with it on. Bus
// mastering stays off: the card never masters the bus.
void CVfioCard::EnableDecoding() {
  uint16_t command = 0;
  uint16_t wanted = 0;
  for (const Bar& bar : m_Card.bars) {
    if (bar.size != 0) {
      wanted |= bar.memory ? COMMAND_MEMORY : COMMAND_IO;
    }
  }
  if (ConfigAccess(false, CONFIG_COMMAND, &command, sizeof command) && (command & wanted) != wanted) {
    command |= wanted;
    ConfigAccess(true, CONFIG_COMMAND, &command, sizeof command);
  }
}

// ---- configuration space ----

// Under m_Mutex. Through the device file while attached; through sysfs otherwise, which
// gives everyone the first 64 bytes and root the rest.
bool CVfioCard::ConfigAccess(bool write, uint32_t offset, void* value, size_t bytes) {
  ssize_t done = -1;
  if (m_Device >= 0) {
    done = write ? m_Kernel.Pwrite(m_Device, value, bytes, static_cast<off_t>(m_Config.offset + offset))
                 : m_Kernel.Pread(m_Device, value, bytes, static_cast<off_t>(m_Config.offset + offset));
  } else {
    const int fd = m_Kernel.Open(m_SysfsConfig, write ? O_WRONLY : O_RDONLY);
    if (fd >= 0) {
      done = write ? m_Kernel.Pwrite(fd, value, bytes, offset) : m_Kernel.Pread(fd, value, bytes, offset);
      const int error = errno;
      m_Kernel.Close(fd);
      errno = error;
    }
  }
  if (done == static_cast<ssize_t>(bytes)) {
    return true;
  }
  Report(Address(), std::string("configuration ") + (write ? "write" : "read") + " at " + Hex(offset) + " failed: " +
                        (done >= 0 ? std::string("short transfer") : LastError()) +
                        (m_Device < 0 && done >= 0 ? " (only root reads past byte 64 before the card is registered)"
                                                   : ""));
  return false;
}

uint32_t CVfioCard::ConfigRead32(uint32_t offset) {
  uint32_t value = NO_VALUE;
  std::lock_guard lock(m_Mutex);
  return (offset & 3) == 0 && ConfigAccess(false, offset, &value, sizeof value) ? value : NO_VALUE;
}

void CVfioCard::ConfigWrite32(uint32_t offset, uint32_t value) {
  std::lock_guard lock(m_Mutex);
  if ((offset & 3) == 0) {
    ConfigAccess(true, offset, &value, sizeof value);
  }
}

// ---- memory and I/O spaces ----

uintptr_t CVfioCard::Map(uint32_t bar, uint32_t size) {
  if (bar >= BAR_COUNT || m_Bars[bar].size == 0) {
    return 0;
  }
  Region& region = m_Bars[bar];
  if ((region.flags & VFIO_REGION_INFO_FLAG_MMAP) != 0 && region.mapped == 0) {
    const size_t length = PageAligned(region.size);
    void* mapped = m_Kernel.Mmap(length, PROT_READ | PROT_WRITE, m_Device, static_cast<off_t>(region.offset));
    if (mapped != MAP_FAILED) {
      region.mapped = reinterpret_cast<uintptr_t>(mapped);
      region.mappedLength = length;
      return region.mapped;
    }
    Report(Address(), "BAR" + std::to_string(bar) + " cannot be mapped (" + LastError() +
                          "); it is reached through the device file");
  }
  // The facility still needs an address of its own for the space: an inaccessible
  // reservation, served through the device file.
  void* reserved = m_Kernel.Mmap(size, PROT_NONE, -1, 0);
  return reserved == MAP_FAILED ? 0 : reinterpret_cast<uintptr_t>(reserved);
}

void CVfioCard::Unmap(uintptr_t address, uint32_t size) {
  for (Region& region : m_Bars) {
    if (region.mapped != 0 && region.mapped == address) {
      m_Kernel.Munmap(reinterpret_cast<void*>(region.mapped), region.mappedLength);
      region.mapped = 0;
      return;
    }
  }
  m_Kernel.Munmap(reinterpret_cast<void*>(address), size);
}

bool CVfioCard::Inside(uint32_t bar, uint32_t offset, uint32_t bytes, const char* what) {
  if (bar < BAR_COUNT && m_Bars[bar].size != 0 && (offset & 3) == 0 && offset <= m_Bars[bar].size &&
      bytes <= m_Bars[bar].size - offset) {
    return true;
  }
  Report(Address(), std::string(what) + " of " + std::to_string(bytes) + " bytes at " + Hex(offset) + " of BAR" +
                        std::to_string(bar) + " refused: outside the space or unaligned");
  return false;
}

bool CVfioCard::FileAccess(bool write, void* buffer, size_t bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes) {
    auto* at = static_cast<uint8_t*>(buffer) + done;
    const auto where = static_cast<off_t>(offset + done);
    const ssize_t moved = write ? m_Kernel.Pwrite(m_Device, at, bytes - done, where)
                                : m_Kernel.Pread(m_Device, at, bytes - done, where);
    if (moved < 0 && errno == EINTR) {
      continue;
    }
    if (moved <= 0) {
      return false;
    }
    done += static_cast<size_t>(moved);
  }
  return true;
}

// Said once per attachment: a card that stops answering would otherwise flood stderr from
// every poll loop.
void CVfioCard::AccessFailed(const char* what, uint32_t bar, uint32_t offset) {
  const std::string error = LastError();
  if (!m_FailureReported.exchange(true)) {
    Report(Address(), std::string(what) + " at " + Hex(offset) + " of BAR" + std::to_string(bar) + " failed: " + error +
                          " (further failures of this card go unreported)");
  }
}

uint32_t CVfioCard::Read32(uint32_t bar, uint32_t offset) {
  if (!Inside(bar, offset, 4, "read")) {
    return NO_VALUE;
  }
  const Region& region = m_Bars[bar];
  uint32_t value = NO_VALUE;
  if (region.mapped != 0) {
    value = m_Kernel.Load32(region.mapped + offset);
  } else if (!FileAccess(false, &value, sizeof value, region.offset + offset)) {
    AccessFailed("read", bar, offset);
    return NO_VALUE;
  }
  if (bar == BOARD_REGISTERS_BAR) {
    m_Shadow.RegisterRead(offset, value);
  }
  return value;
}

void CVfioCard::Write32(uint32_t bar, uint32_t offset, uint32_t value) {
  if (!Inside(bar, offset, 4, "write")) {
    return;
  }
  const Region& region = m_Bars[bar];
  if (region.mapped != 0) {
    m_Kernel.Store32(region.mapped + offset, value);
  } else if (!FileAccess(true, &value, sizeof value, region.offset + offset)) {
    AccessFailed("write", bar, offset);
  }
  if (bar == BOARD_REGISTERS_BAR) {
    m_Shadow.RegisterWritten(offset, value);
  } else if (bar == FRAME_BAR) {
    m_Shadow.FrameWritten(offset, &value, sizeof value);
  }
}

void CVfioCard::WriteBlock(uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) {
  if ((bytes & 3) != 0) {
    Report(Address(), "block of " + std::to_string(bytes) + " bytes taken as whole 32-bit units only");
    bytes &= ~3u;
  }
  if (!Inside(bar, offset, bytes, "block write")) {
    return;
  }
  const Region& region = m_Bars[bar];
  if (region.mapped != 0) {
    m_Kernel.StoreBlock32(region.mapped + offset, source, bytes);
  } else if (!FileAccess(true, const_cast<void*>(source), bytes, region.offset + offset)) {
    AccessFailed("block write", bar, offset);
  }
  if (bar == FRAME_BAR) {
    m_Shadow.FrameWritten(offset, source, bytes);
  } else if (bar == BOARD_REGISTERS_BAR) {
    for (uint32_t done = 0; done + 4 <= bytes; done += 4) {
      uint32_t value = 0;
      std::memcpy(&value, static_cast<const uint8_t*>(source) + done, sizeof value);
      m_Shadow.RegisterWritten(offset + done, value);
    }
  }
}

void CVfioCard::ReadDisplay(pci::DisplayInfo& info, uint8_t* pixels, size_t capacity) {
  m_Shadow.Read(info, pixels, capacity);
}

// ---- interrupt line ----

bool CVfioCard::SetInterrupt(uint32_t action, uint32_t count, int eventfd) {
  alignas(vfio_irq_set) uint8_t buffer[sizeof(vfio_irq_set) + sizeof(int32_t)] = {};
  auto* request = reinterpret_cast<vfio_irq_set*>(buffer);
  request->argsz = static_cast<uint32_t>(sizeof(vfio_irq_set) + (eventfd >= 0 ? sizeof(int32_t) : 0));
  request->flags = (eventfd >= 0 ? VFIO_IRQ_SET_DATA_EVENTFD : VFIO_IRQ_SET_DATA_NONE) | action;
  request->index = VFIO_PCI_INTX_IRQ_INDEX;
  request->start = 0;
  request->count = count;
  if (eventfd >= 0) {
    const int32_t fd = eventfd;
    std::memcpy(buffer + sizeof(vfio_irq_set), &fd, sizeof fd);
  }
  return m_Kernel.Ioctl(m_Device, VFIO_DEVICE_SET_IRQS, request) == 0;
}

bool CVfioCard::EnableInterrupt() {
  const std::string line = std::to_string(m_Card.listing.Irq);
  vfio_irq_info info{};
  info.argsz = sizeof info;
  info.index = VFIO_PCI_INTX_IRQ_INDEX;
  if (m_Kernel.Ioctl(m_Device, VFIO_DEVICE_GET_IRQ_INFO, &info) != 0 || info.count != 1 ||
      (info.flags & VFIO_IRQ_INFO_EVENTFD) == 0) {
    Report(Address(), "the kernel offers no interrupt line for the card");
    return false;
  }
  m_InterruptFd = m_Kernel.Eventfd();
  m_StopFd = m_Kernel.Eventfd();
  if (m_InterruptFd < 0 || m_StopFd < 0) {
    Report(Address(), "no eventfd for the interrupt line: " + LastError());
  } else if (!SetInterrupt(VFIO_IRQ_SET_ACTION_TRIGGER, 1, m_InterruptFd)) {
    // This bridge predates the PCI 2.3 interrupt disable bit: vfio-pci has to mask it at
    // the interrupt controller, which it only does for a line nobody else holds.
    Report(Address(), "the kernel refuses interrupt line " + line + " (" + LastError() +
                          "): the line must not be shared, this bridge cannot share it; see " + Guide());
  } else {
    if (!m_Card.listing.IrqSharedWith.empty()) {
      Report(Address(), "interrupt line " + line + " is wired to " + Joined(m_Card.listing.IrqSharedWith) +
                            " as well; while this program holds it, their interrupts are lost");
    }
    m_NeedsUnmask = false;
    return true;
  }
  DisableInterrupt();
  return false;
}

void CVfioCard::DisableInterrupt() {
  if (m_InterruptFd >= 0 && m_Device >= 0) {
    SetInterrupt(VFIO_IRQ_SET_ACTION_TRIGGER, 0, -1);
  }
  for (int* fd : {&m_InterruptFd, &m_StopFd}) {
    if (*fd >= 0) {
      m_Kernel.Close(*fd);
      *fd = -1;
    }
  }
}

bool CVfioCard::WaitInterrupt(std::stop_token stop) {
  if (stop.stop_requested()) {
    return false;
  }
  // The kernel masked the line when it signalled the last interrupt; the routine has run
  // since, so the next one may come.
  if (m_NeedsUnmask) {
    if (!SetInterrupt(VFIO_IRQ_SET_ACTION_UNMASK, 1, -1)) {
      Report(Address(), "the kernel refuses to unmask the interrupt line: " + LastError());
      return false;
    }
    m_NeedsUnmask = false;
  }
  const int stopFd = m_StopFd;
  std::stop_callback wake(stop, [this, stopFd] {
    const uint64_t one = 1;
    m_Kernel.Write(stopFd, &one, sizeof one);
  });
  for (;;) {
    pollfd fds[2] = {{m_InterruptFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (m_Kernel.Poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      Report(Address(), "waiting for the interrupt line failed: " + LastError());
      return false;
    }
    if (fds[1].revents != 0) {
      return false;
    }
    if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
      Report(Address(), "the interrupt line's eventfd failed");
      return false;
    }
    uint64_t signalled = 0;
    if ((fds[0].revents & POLLIN) != 0 && m_Kernel.Read(m_InterruptFd, &signalled, sizeof signalled) > 0) {
      m_NeedsUnmask = true;
      return true;
    }
  }
}

}  // namespace vfio
