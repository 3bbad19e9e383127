#pragma once
// Exclusive claims on cards across processes: one lock file per card in a folder only this
// user can write. The kernel drops the lock when the holder dies, so a crashed program
// never leaves a card claimed.

#include <string>

namespace pci::detail {

// The claim folder: $XDG_RUNTIME_DIR/sorrel-pci when that folder exists, otherwise
// /tmp/sorrel-pci-<uid>. Created 0700; refused (empty result, reason on stderr) when it is
// not a directory owned by this user or when others may write into it.
std::string ClaimFolder();

// Takes the claim without waiting: a descriptor that holds it, or -1 when another holder
// has it (or the folder is unusable).
int TakeClaim(const std::string& name);
void DropClaim(int fd);

}  // namespace pci::detail
