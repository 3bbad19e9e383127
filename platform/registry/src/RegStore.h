#pragma once
// Where the store lives and how it is read and saved: one file, sorrel.reg, in the folder
// SORREL_REGISTRY names, else /var/lib/sorrel. Saves take the store's lock (sorrel.lock
// beside it, open to the operators' group only), so two processes never interleave, and
// replace the file whole. Neither follows a link that another user could have planted.

#include <string>
#include <vector>

#include "RegDocument.h"

// The file, larger than which the store is not read (and not saved over): a thousand
// times what the settings take, and small enough that even a file of nothing but values
// reads in a moment.
constexpr size_t MAX_STORE_SIZE = size_t{1} << 20;

std::string StoreFilePath();

// What the store holds now. A missing file is an empty store; so is a file that cannot
// be read, with one line on standard error saying why.
CRegDocument ReadStore();

// Saves changes into key, merged into the file as it is by then; without changes, only
// adds the key when the file has none. Takes the lock once and reads the file once.
// On failure the file is left as it was and one line on standard error names it and the
// reason; the result is ERROR_ACCESS_DENIED where the rights were missing (or a link was
// refused), else ERROR_REGISTRY_IO_FAILED.
LONG SaveKey(const std::string& key, const std::vector<RegValue>& changes);
