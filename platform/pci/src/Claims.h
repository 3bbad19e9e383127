#pragma once
// Exclusive claims on cards across processes: one lock file per card in a folder only this
// user can write. The kernel drops the lock when the holder dies, so a crashed program
// never leaves a card claimed.

#include <string>

namespace pci::detail {

// The claim folder: the first of $XDG_RUNTIME_DIR/sorrel-pci, ${TMPDIR:-/tmp}/sorrel-pci-<uid>
// and $HOME/.sorrel-pci (the first and last only where the variable names a folder of this
// user's) that is, or can be made, a directory owned by this user that nobody else may
// write. A candidate refused says so on stderr, naming it and how to remove it; empty when
// none can serve.
std::string ClaimFolder();

// Who holds a claim, as the holder wrote it into the lock file: "<pid> <program>".
struct ClaimHolder {
  int ProcessId = 0;  // 0: unknown
  std::string Program;
};

// Claims are this process's only: a forked child holds none of its parent's.
// Takes the claim without waiting: a descriptor that holds it, with this process recorded
// as its holder, or -1 when another holder has it (or the folder is unusable). refused
// tells whether another holder had it, and holder who that is.
int TakeClaim(const std::string& name, bool& refused, ClaimHolder& holder);
void DropClaim(int fd);

}  // namespace pci::detail
