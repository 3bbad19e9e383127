// Makes the sample working folder a newcomer starts Sorrel in, and seeds the settings store
// of a first run so the demo sequence loads at start-up.
//
//   sorrel-samples FOLDER
//       writes PowerOff.bmp, Image_Files (patterns for both boards, Zernike files, LUTs, an
//       SLM compensation image), Sequence_Files (a demo sequence per board, its entries
//       relative to FOLDER) and LUT_Files (the LUTs of two wavelengths) into FOLDER.
//   sorrel-samples --seed-settings FOLDER [kite|wren]
//       when the settings store (SORREL_REGISTRY) holds no Sorrel settings yet, stores
//       settings that open FOLDER's demo sequence for that board; otherwise changes nothing.

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DemoFolder.h"
#include "LUTFile.h"
#include "SamplePatterns.h"
#include "SequenceFile.h"
#include "files/SafePath.h"

namespace {

struct Entry {
  std::string pattern;
  std::string lut;
};

class CSampleFolder {
 public:
  explicit CSampleFolder(std::string folder) : m_Folder(std::move(folder)) {}

  bool Write() {
    MakeFolder("");
    MakeFolder("Image_Files");
    MakeFolder("Sequence_Files");
    MakeFolder(WAVELENGTH_LUT_FOLDER);
    Grey("PowerOff.bmp", PowerOffPicture(128));
    Luts();
    Zernikes();
    Grey("Image_Files/slm_comp.bmp", SlmCompensation(512));
    // Shared by both demos: one 24-bit bitmap and one 128 x 128 one the reader enlarges.
    Colour("Image_Files/blazed_24bit.bmp", BlazedGrating(512, 40, 60));
    Grey("Image_Files/checker_128.bmp", Checkerboard(128, 8));
    Demo("Kite_demo.sif", 512);
    Demo("Wren_demo.sif", 256);
    return m_Ok;
  }

 private:
  std::string Path(const std::string& name) const { return m_Folder + "/" + name; }

  void Check(bool ok, const std::string& name) {
    if (!ok) {
      std::fprintf(stderr, "sorrel-samples: cannot write %s: %s\n", Path(name).c_str(), FileErrorText(errno).c_str());
      m_Ok = false;
    }
  }

  void MakeFolder(const std::string& name) {
    const std::string path = name.empty() ? m_Folder : Path(name);
    Check(mkdir(path.c_str(), 0755) == 0 || errno == EEXIST, name);
  }

  void Grey(const std::string& name, const SamplePicture& picture) { Check(WriteGreyBitmap(Path(name), picture), name); }
  void Colour(const std::string& name, const SamplePicture& picture) {
    Check(WriteColourBitmap(Path(name), picture), name);
  }

  void Luts() {
    std::vector<int> linear(256), invert(256), gamma(256);
    for (int i = 0; i < 256; ++i) {
      linear[static_cast<size_t>(i)] = i;
      invert[static_cast<size_t>(i)] = 255 - i;
      gamma[static_cast<size_t>(i)] = static_cast<int>(std::lround(255.0 * std::pow(i / 255.0, 1.0 / 2.2)));
    }
    Check(WriteLutFile(Path("Image_Files/linear.lut"), linear), "linear.lut");
    Check(WriteLutFile(Path("Image_Files/invert.lut"), invert), "invert.lut");
    Check(WriteLutFile(Path("Image_Files/gamma.txt"), gamma), "gamma.txt");
    // A modulator whose levels span one wave at 633 nm spans 633/532 of a wave at 532 nm, so
    // there one wave takes the lower 532/633 of its drive.
    std::vector<int> green(256);
    for (int i = 0; i < 256; ++i) green[static_cast<size_t>(i)] = static_cast<int>(std::lround(i * 532.0 / 633.0));
    const std::string folder = std::string(WAVELENGTH_LUT_FOLDER) + "/";
    Check(WriteLutFile(Path(folder + "633nm.lut"), linear), folder + "633nm.lut");
    Check(WriteLutFile(Path(folder + "532nm.lut"), green), folder + "532nm.lut");
  }

  void Zernikes() {
    const std::pair<const char*, std::vector<std::pair<std::string, double>>> files[] = {
        {"defocus.zrn", {{"Power", 2.0}}},
        {"astigmatism.zrn", {{"AstigX", 1.5}, {"AstigY", 0.5}}},
        {"coma.zrn", {{"ComaX", 1.2}}},
        {"trefoil.zrn", {{"TrefoilX", 1.5}}},
        {"spherical.zrn", {{"PrimarySpherical", 1.0}}},
    };
    for (const auto& [name, terms] : files) {
      Check(WriteZernikeFile(Path(std::string("Image_Files/") + name), terms), name);
    }
  }

  // The board's own patterns (named short enough for the entry boxes to show whole), then the
  // shared ones and the Zernike files; paths are relative to the working folder, as a folder
  // that moves keeps working.
  void Demo(const std::string& name, int side) {
    const std::string s = std::to_string(side);
    const double p = side / 32.0;  // the shortest period: 16 pixels on Kite, 8 on Wren
    const std::pair<std::string, SamplePicture> own[] = {
        {"blaze" + s + "_" + std::to_string(static_cast<int>(p)) + "_0.bmp", BlazedGrating(side, p, 0)},
        {"blaze" + s + "_" + std::to_string(static_cast<int>(2 * p)) + "_90.bmp", BlazedGrating(side, 2 * p, 90)},
        {"blaze" + s + "_" + std::to_string(static_cast<int>(1.5 * p)) + "_45.bmp", BlazedGrating(side, 1.5 * p, 45)},
        {"blaze" + s + "_" + std::to_string(static_cast<int>(4 * p)) + "_135.bmp", BlazedGrating(side, 4 * p, 135)},
        {"vortex" + s + "_c1.bmp", Vortex(side, 1)},
        {"vortex" + s + "_c3.bmp", Vortex(side, 3)},
        {"fresnel_" + s + ".bmp", FresnelLens(side, side / 10.0)},
        {"checker_" + s + ".bmp", Checkerboard(side, side / 16)},
    };
    std::vector<Entry> entries;
    for (const auto& [file, picture] : own) {
      Grey("Image_Files/" + file, picture);
      const bool inverted = file.starts_with("checker");
      const bool gamma = file.ends_with("_135.bmp");
      entries.push_back({"Image_Files/" + file,
                         inverted ? "Image_Files/invert.lut" : gamma ? "Image_Files/gamma.txt" : "Image_Files/linear.lut"});
    }
    entries.push_back({"Image_Files/blazed_24bit.bmp", "Image_Files/linear.lut"});
    entries.push_back({"Image_Files/checker_128.bmp", "Image_Files/linear.lut"});
    for (const char* zernike : {"defocus", "astigmatism", "coma", "trefoil", "spherical"}) {
      entries.push_back({std::string("Image_Files/") + zernike + ".zrn", "Image_Files/linear.lut"});
    }
    ImageList list;
    for (const Entry& e : entries) {
      auto entry = std::make_unique<Image_Entry>();
      entry->PatternFile = e.pattern;
      entry->LUTFile = e.lut;
      list.push_back(std::move(entry));
    }
    m_Ok = WriteSequenceFile(Path("Sequence_Files/" + name), list) && m_Ok;
  }

  const std::string m_Folder;
  bool m_Ok = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--seed-settings") == 0) {
    const std::string board = argc >= 4 ? argv[3] : "kite";
    if (board != "kite" && board != "wren") {
      std::fprintf(stderr, "sorrel-samples: board must be kite or wren, not %s\n", board.c_str());
      return 2;
    }
    const Seeded result = SeedDemoSettings(argv[2], board);
    if (result == Seeded::Failed) std::fprintf(stderr, "sorrel-samples: cannot store the settings\n");
    if (result == Seeded::Stored) std::printf("sorrel-samples: settings stored for the %s demo sequence\n", board.c_str());
    return result == Seeded::Failed ? 1 : 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: sorrel-samples FOLDER | --seed-settings FOLDER [kite|wren]\n");
    return 2;
  }
  return CSampleFolder(argv[1]).Write() ? 0 : 1;
}
