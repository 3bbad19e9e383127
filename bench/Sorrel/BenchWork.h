#pragma once
// What the program benchmarks share: a working folder of their own with a settings store
// for a Kite phase modulator, made the program's, on a fresh simulated Kite card.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "PatternFiles.h"
#include "SimTesting.h"

// "<stem><i><extension>": the files of one kind, numbered.
inline std::string Name(const char* stem, int i, const char* extension) { return stem + std::to_string(i) + extension; }

// The folders the program expects, and its store naming the sequence at frameRate; extra
// holds further store lines (compensation).
inline void WriteBenchWork(const CTempFolder& work, const std::string& sequence, int frameRate,
                           const std::string& extra) {
  mkdir(work.Path("Image_Files").c_str(), 0755);
  mkdir(work.Path("Sequence_Files").c_str(), 0755);
  mkdir(work.Path("registry").c_str(), 0755);
  WriteSquareBitmap(work.Path("PowerOff.bmp"), 128, 8, [](int, int) { return 0u; });
  WriteText(work.Path("registry/sorrel.reg"),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n\"FrameRate\"=\"" +
                std::to_string(frameRate) +
                "\"\n\"LaserDuty\"=\"50\"\n\"LaserAGain\"=\"100\"\n\"LaserBGain\"=\"100\"\n\"LC_Type\"=\"1\"\n"
                "\"TrueFrames\"=\"3\"\n\"BoardType\"=\"Kite_SLM\"\n\"SequenceFile\"=\"" +
                sequence + "\"\n\"HideComp\"=\"0\"\n" + extra + "\n");
}

// Makes the folder the program's working folder and store, on a bus of one Kite card of
// this process's own. False when the folder cannot be entered.
inline bool EnterBenchWork(const CTempFolder& work) {
  if (chdir(work.Path().c_str()) != 0) return false;
  setenv("SORREL_REGISTRY", work.Path("registry").c_str(), 1);
  setenv("SORREL_SIM", "kite", 1);
  sim::testing::UsePrivateClaimFolder();
  sim::testing::ResetBus();
  return true;
}
