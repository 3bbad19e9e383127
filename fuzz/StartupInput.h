#pragma once
// The files one start-up input holds, in order, and what ends each of them.

constexpr const char* STARTUP_FILES[] = {"sorrel.reg", "seq.sif", "p.bmp", "z.zrn", "a.lut", "c.bmp", "PowerOff.bmp"};
constexpr const char STARTUP_FILE_END[] = "\n=== next file ===\n";
