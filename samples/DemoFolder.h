#pragma once
// The operator's own working folder for a start from the desktop menu: a copy of the
// installed sample folder in the user's data folder, made on first use, and settings that
// open its demo sequence while the settings store has none.

#include <string>

// $XDG_DATA_HOME/sorrel/samples, else $HOME/.local/share/sorrel/samples; empty without either.
std::string DemoFolder();

// Makes folder a copy of samples unless it is there already, with the folders above it. The
// copy is made beside it and renamed into place, so a copy cut short never passes for a
// working folder. False with the reason when it cannot.
bool MakeDemoFolder(const std::string& samples, const std::string& folder, std::string& reason);

enum class Seeded { Stored, Failed, AlreadyThere };

// When the settings store (SORREL_REGISTRY) holds no Sorrel settings yet, stores settings that
// open folder's demo sequence for board ("kite" or "wren"); otherwise changes nothing.
Seeded SeedDemoSettings(const std::string& folder, const std::string& board);
