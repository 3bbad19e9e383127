#include "VfioTesting.h"

#include <mutex>

#include "FakeKernel.h"
#include "SimBackend.h"
#include "VfioBackend.h"

namespace vfio::testing {
namespace {

std::mutex g_Mutex;
FakeOptions g_Options;

FakeOptions Options() {
  std::lock_guard lock(g_Mutex);
  return g_Options;
}

// The options belong in the description, so that changing them builds a fresh bus.
bool DescribeFake(std::string& description) {
  const FakeOptions options = Options();
  std::string bus;
  sim::DescribeBus(bus);
  description = std::string(options.noIommu ? "noiommu " : "") + (options.sharedIrq ? "shared-irq " : "") +
                (options.groupNotViable ? "not-viable " : "") + "driver=" + options.driver + " bus=" + bus;
  return true;
}

bool MakeFake(const std::string& description, StandIn& standIn, std::string& error) {
  const size_t bus = description.find(" bus=");
  std::shared_ptr<pci::detail::IBackend> hardware =
      sim::MakeBus(bus == std::string::npos ? description : description.substr(bus + 5), error);
  if (!hardware) {
    return false;
  }
  standIn.kernel = std::make_shared<CFakeKernel>(hardware, Options(), RootsFromEnvironment());
  standIn.hardware = std::move(hardware);
  return true;
}

const StandInEntry FAKE_KERNEL{DescribeFake, MakeFake};

}  // namespace

void UseFakeKernel(const FakeOptions& options) {
  {
    std::lock_guard lock(g_Mutex);
    g_Options = options;
  }
  InstallStandIn(&FAKE_KERNEL);
  pci::detail::ForgetBackend();
}

void UseRealKernel() {
  InstallStandIn(nullptr);
  pci::detail::ForgetBackend();
}

FakeCounts KernelCounts() {
  const std::shared_ptr<pci::detail::IBackend> bus = pci::detail::CurrentBackend();
  auto* backend = dynamic_cast<CVfioBackend*>(bus.get());
  auto* kernel = backend != nullptr ? dynamic_cast<CFakeKernel*>(&backend->Kernel()) : nullptr;
  return kernel != nullptr ? kernel->Counts() : FakeCounts{};
}

}  // namespace vfio::testing
