#include "SimTesting.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "Backend.h"
#include "SimBackend.h"

namespace sim::testing {
namespace {

// The card and the bus that owns it, kept alive together for the call.
struct Found {
  std::shared_ptr<pci::detail::IBackend> bus;
  CSimCard* card = nullptr;
};

Found Find(const pci::Location& location) {
  Found found;
  found.bus = pci::detail::CurrentBackend();
  if (found.bus && dynamic_cast<CSimBackend*>(found.bus.get()) == nullptr) {
    found.bus = found.bus->Hardware();  // simulated cards behind a test's stand-in kernel
  }
  if (auto* sim = dynamic_cast<CSimBackend*>(found.bus.get())) {
    found.card = sim->CardAt(location);
  }
  if (found.card == nullptr) {
    std::fprintf(stderr, "sim: no simulated card at %u:%u.%u\n", location.Bus, location.Slot, location.Function);
  }
  return found;
}

std::string g_ClaimFolder;

void RemoveClaimFolder() {
  if (DIR* dir = opendir(g_ClaimFolder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        unlink((g_ClaimFolder + "/" + name).c_str());
      }
    }
    closedir(dir);
  }
  // XDG_RUNTIME_DIR/sorrel-pci lives one level down.
  rmdir(g_ClaimFolder.c_str());
  const std::string parent = g_ClaimFolder.substr(0, g_ClaimFolder.rfind('/'));
  rmdir(parent.c_str());
}

}  // namespace

std::optional<CardDescription> CardAt(const pci::Location& location) {
  const Found found = Find(location);
  if (found.card == nullptr) {
    return std::nullopt;
  }
  const Geometry& shape = found.card->Shape();
  return CardDescription{ModelName(found.card->Spec().model), found.card->Spec().id, shape.width, shape.height,
                         shape.buffers, found.card->StoresReordered()};
}

uint32_t PeekRegister(const pci::Location& location, uint32_t bar, uint32_t offset) {
  const Found found = Find(location);
  return found.card != nullptr ? found.card->Read32(bar, offset) : 0xFFFFFFFF;
}

bool StoredFrame(const pci::Location& location, uint32_t buffer, std::vector<uint8_t>& bytes) {
  const Found found = Find(location);
  return found.card != nullptr && found.card->StoredFrame(buffer, bytes);
}

bool DecodedFrame(const pci::Location& location, uint32_t buffer, std::vector<uint8_t>& bytes) {
  const Found found = Find(location);
  return found.card != nullptr && found.card->DecodedFrame(buffer, bytes);
}

InterruptCounts Counts(const pci::Location& location) {
  const Found found = Find(location);
  if (found.card == nullptr) {
    return {};
  }
  return found.card->Counts();
}

InterruptCounts CountsAtRest(const pci::Location& location, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  InterruptCounts counts = Counts(location);
  while (!counts.atRest && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    counts = Counts(location);
  }
  return counts;
}

bool ReadDisplay(const pci::Location& location, pci::DisplayInfo& info, uint8_t* pixels, size_t capacity) {
  return pci::ReadDisplay(location, info, pixels, capacity);
}

bool RecordShownFrames(const pci::Location& location, size_t capacity) {
  const Found found = Find(location);
  return found.card != nullptr && (found.card->RecordShown(capacity), true);
}

uint64_t TakeShownFrames(const pci::Location& location, std::vector<ShownFrame>& frames) {
  const Found found = Find(location);
  return found.card != nullptr ? found.card->TakeShown(frames) : 0;
}

bool SetFaults(const pci::Location& location, const std::string& options, bool on) {
  uint32_t faults = 0;
  if (!ParseFaults(options, faults)) {
    std::fprintf(stderr, "sim: unknown fault in \"%s\"\n", options.c_str());
    return false;
  }
  const Found found = Find(location);
  return found.card != nullptr && (found.card->SetFaults(faults, on), true);
}

void ResetBus() { pci::detail::ForgetBackend(); }

std::string UsePrivateClaimFolder() {
  static std::once_flag once;
  std::call_once(once, [] {
    char pattern[] = "/tmp/sorrel-claims-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("sim: cannot make a private claim folder");
      return;
    }
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    g_ClaimFolder = std::string(pattern) + "/sorrel-pci";
    std::atexit(RemoveClaimFolder);
  });
  return g_ClaimFolder;
}

}  // namespace sim::testing
