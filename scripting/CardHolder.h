#pragma once
// Who holds the card when a search for the board found it claimed by another process: the
// program says so on standard error, the tools in their refusal.

#include <cstdint>
#include <string>

// Claims refused so far in this process; taken before a search for the board.
uint64_t ClaimRefusalsSoFar();

// "The card is held by process 4242 (Sorrel)" when a claim was refused since refusalsBefore
// (the holder as it recorded itself; "another process" when it could not be told), else empty.
std::string CardHolderText(uint64_t refusalsBefore);
