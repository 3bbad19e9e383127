#pragma once
// One real card reached through vfio-pci. Attached, it holds the device file: the BARs the
// kernel lets it map are read and written by loads and stores, the others (a 128-byte BAR0
// off a page boundary, the I/O BAR) through the device file at the region's offset, and
// configuration space too. The interrupt line is an eventfd the kernel signals with the
// line masked; the next wait unmasks it.

#include <atomic>
#include <mutex>
#include <stop_token>
#include <string>

#include "Backend.h"
#include "DisplayShadow.h"
#include "Kernel.h"
#include "Survey.h"
#include "VfioGroups.h"

namespace vfio {

class CVfioCard final : public pci::detail::ICard {
 public:
  CVfioCard(IKernel& kernel, CVfioGroups& groups, const Roots& roots, SurveyedCard card);
  CVfioCard(const CVfioCard&) = delete;
  CVfioCard& operator=(const CVfioCard&) = delete;
  ~CVfioCard();

  const SurveyedCard& Surveyed() const { return m_Card; }
  const std::string& Address() const { return m_Card.listing.Address; }

  // Opens the device through its group; false, with the reason on stderr, when refused.
  bool Attach();
  void Detach();

  // Through the device file while attached, through sysfs before.
  uint32_t ConfigRead32(uint32_t offset);
  void ConfigWrite32(uint32_t offset, uint32_t value);

  uintptr_t Map(uint32_t bar, uint32_t size) override;
  void Unmap(uintptr_t address, uint32_t size) override;
  uint32_t Read32(uint32_t bar, uint32_t offset) override;
  void Write32(uint32_t bar, uint32_t offset, uint32_t value) override;
  void WriteBlock(uint32_t bar, uint32_t offset, const void* source, uint32_t bytes) override;
  bool EnableInterrupt() override;
  void DisableInterrupt() override;
  bool WaitInterrupt(std::stop_token stop) override;
  void ReadDisplay(pci::DisplayInfo& info, uint8_t* pixels, size_t capacity) override;

 private:
  struct Region {
    uint64_t offset = 0;  // in the device file
    uint64_t size = 0;
    uint32_t flags = 0;
    uintptr_t mapped = 0;  // a mapping of the card's memory; 0 when reached through the file
    size_t mappedLength = 0;
  };

  bool ReadRegion(uint32_t index, Region& region);
  bool ReadRegions();
  void EnableDecoding();
  void CloseDevice();
  bool SetInterrupt(uint32_t action, uint32_t count, int eventfd);
  bool Inside(uint32_t bar, uint32_t offset, uint32_t bytes, const char* what);
  bool FileAccess(bool write, void* buffer, size_t bytes, uint64_t offset);
  void AccessFailed(const char* what, uint32_t bar, uint32_t offset);
  bool ConfigAccess(bool write, uint32_t offset, void* value, size_t bytes);

  IKernel& m_Kernel;
  CVfioGroups& m_Groups;
  const std::string m_SysfsConfig;
  const SurveyedCard m_Card;

  std::mutex m_Mutex;  // attaching, detaching and configuration access
  int m_Device = -1;
  Region m_Bars[BAR_COUNT];
  Region m_Config;
  std::atomic<bool> m_FailureReported{false};
  CDisplayShadow m_Shadow;  // what the driver wrote and selected, for pci::ReadDisplay

  // The interrupt line: set up before the interrupt thread starts, then its alone.
  int m_InterruptFd = -1;
  int m_StopFd = -1;
  bool m_NeedsUnmask = false;
};

}  // namespace vfio
