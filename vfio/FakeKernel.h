#pragma once
// A stand-in for the kernel that serves simulated cards the way sysfs and vfio-pci serve
// real ones: a sysfs tree per card, the container, group and device files with their
// ioctls, BAR and configuration regions (a BAR off a page boundary cannot be mapped; the
// mapped ones are inaccessible reservations whose loads and stores it routes to the card),
// and an INTx line that the kernel masks when it signals the eventfd and that stays
// asserted, level-triggered, until it is unmasked. Eventfds and polls are the real ones.

#include <array>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Backend.h"
#include "LinuxKernel.h"
#include "Survey.h"
#include "VfioTesting.h"

namespace vfio {

class CFakeKernel final : public IKernel {
 public:
  // bus: the simulated cards to serve.
  CFakeKernel(std::shared_ptr<pci::detail::IBackend> bus, const testing::FakeOptions& options, const Roots& roots);
  CFakeKernel(const CFakeKernel&) = delete;
  CFakeKernel& operator=(const CFakeKernel&) = delete;
  ~CFakeKernel() override;

  testing::FakeCounts Counts();

  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  ssize_t Pread(int fd, void* buffer, size_t bytes, off_t offset) override;
  ssize_t Pwrite(int fd, const void* buffer, size_t bytes, off_t offset) override;
  void* Mmap(size_t length, int protection, int fd, off_t offset) override;
  int Munmap(void* address, size_t length) override;
  int Eventfd() override { return m_Real.Eventfd(); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return m_Real.Poll(fds, count, timeoutMs); }
  ssize_t Read(int fd, void* buffer, size_t bytes) override { return m_Real.Read(fd, buffer, bytes); }
  ssize_t Write(int fd, const void* buffer, size_t bytes) override { return m_Real.Write(fd, buffer, bytes); }
  uint32_t Load32(uintptr_t address) override;
  void Store32(uintptr_t address, uint32_t value) override;
  void StoreBlock32(uintptr_t address, const void* source, size_t bytes) override;
  bool ReadText(const std::string& path, std::string& text) override;
  bool ReadLink(const std::string& path, std::string& target) override;
  bool ListFolder(const std::string& path, std::vector<std::string>& names) override;
  bool MayOpen(const std::string& path) override;

 private:
  static constexpr size_t VFIO_REGIONS = 9;  // six BARs, the ROM, configuration space, VGA

  enum class Kind { Container, Group, Device, Config };

  struct Card;

  struct File {
    Kind kind;
    Card* card = nullptr;   // a group, device or configuration file: its card
    int container = -1;     // a group: the container it was set in
    bool iommuSet = false;  // a container: its IOMMU model is chosen
  };

  struct Region {
    uint64_t size = 0;
    uint32_t flags = 0;
  };

  // One simulated card as the stand-in kernel keeps it.
  struct Card {
    pci::detail::CardIndex index = 0;
    std::string address;
    std::string groupFile;
    std::array<Region, VFIO_REGIONS> regions{};
    bool viable = true;
    bool lineShared = false;
    pci::detail::ICard* attached = nullptr;  // while its device file is open
    int trigger = -1;                        // the eventfd its interrupts are signalled on
    bool masked = false;
    std::condition_variable_any unmasked;
    std::jthread delivery;
  };

  struct Mapping {
    Card* card;
    uint32_t bar;
    uintptr_t base;
    size_t length;
  };

  using Lock = std::unique_lock<std::mutex>;

  void AddCard(const pci::Location& location, const testing::FakeOptions* options);
  void AddDevice(const std::string& address, uint32_t vendor, uint32_t device, uint32_t irq, const std::string& driver,
                 uint32_t group);
  int NewFile(const File& file);  // under m_Mutex
  int ContainerIoctl(int fd, File& container, unsigned long request, void* argument);
  int GroupIoctl(File& group, unsigned long request, void* argument);
  int DeviceIoctl(Lock& lock, Card& card, unsigned long request, void* argument);
  int SetIrqs(Lock& lock, Card& card, const void* argument);
  void Deliver(Card& card, pci::detail::ICard* device, std::stop_token stop);
  static void StopDelivery(Lock& lock, Card& card);
  ssize_t Access(int fd, bool write, void* buffer, size_t bytes, off_t offset);
  ssize_t ConfigAccess(const Card& card, bool write, void* buffer, size_t bytes, uint64_t offset);
  pci::detail::ICard* Routed(uintptr_t address, size_t bytes, uint32_t& bar, uint32_t& offset);
  bool Exists(const std::string& path) const;

  const std::shared_ptr<pci::detail::IBackend> m_Bus;
  const Roots m_Roots;
  CLinuxKernel m_Real;
  bool m_NoIommu = false;
  std::map<std::string, std::string> m_Texts;
  std::map<std::string, std::string> m_Links;
  std::map<std::string, Card*> m_ConfigFiles;
  std::map<std::string, Card*> m_GroupFiles;
  std::vector<std::unique_ptr<Card>> m_Cards;

  std::mutex m_Mutex;
  std::map<int, File> m_Files;
  std::vector<Mapping> m_Mappings;
  testing::FakeCounts m_Counts;
};

}  // namespace vfio
