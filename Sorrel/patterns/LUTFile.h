#pragma once
// Lookup-table files: 256 pairs "index value" mapping grey levels to output levels.

#include <cstdint>
#include <string>

// The folder of a working folder that holds one LUT per wavelength, <wavelength>.lut: the
// LUT that takes the 256 levels of one wave to the drive giving that phase at that wavelength.
constexpr const char* WAVELENGTH_LUT_FOLDER = "LUT_Files";

// Fills table with the file's 256 values and returns true; when the file cannot be opened
// or breaks a rule, fills it with the identity and returns false.
bool ReadLUTFile(const std::string& path, uint8_t table[256]);
