// Writes the seed corpus of every fuzz target: MakeSeeds <folder> fills <folder>/bitmap,
// <folder>/sequence, <folder>/zernike, <folder>/lut, <folder>/registry and <folder>/startup.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "PatternFiles.h"
#include "StartupInput.h"

namespace {

uint32_t Pixel(int y, int x) { return static_cast<uint32_t>(y * 37 + x * 11) * 2654435761u >> 7; }

class CSeeds {
 public:
  CSeeds(const std::filesystem::path& root, const char* target) : m_Folder(root / target) {
    std::filesystem::create_directories(m_Folder);
  }
  void Add(const std::vector<uint8_t>& bytes) {
    WriteBytes((m_Folder / ("seed_" + std::to_string(m_Count++))).string(), bytes);
  }
  void Add(const std::string& text) { Add(std::vector<uint8_t>(text.begin(), text.end())); }

 private:
  std::filesystem::path m_Folder;
  int m_Count = 0;
};

void Bitmaps(const std::filesystem::path& root) {
  CSeeds seeds(root, "bitmap");
  for (uint16_t depth : {4, 8, 16, 24})
    for (int side : {1, 2, 4, 8, 32})
      seeds.Add(BmpFile(StandardLayout(side, side, depth), PixelBlock(side, depth, Pixel)));
  seeds.Add(BmpFile(StandardLayout(128, 128, 8), PixelBlock(128, 8, Pixel)));
  // Shapes the conversion refuses, so that the fuzzer starts next to the edges.
  seeds.Add(BmpFile(StandardLayout(8, 4, 8), std::vector<uint8_t>(32, 1)));
  seeds.Add(BmpFile(StandardLayout(3, 3, 24), std::vector<uint8_t>(36, 2)));
  seeds.Add(BmpFile(StandardLayout(8, 8, 1), std::vector<uint8_t>(32, 3)));
  seeds.Add(BmpFile(StandardLayout(4, 4, 32), std::vector<uint8_t>(64, 4)));
  seeds.Add(BmpFile(StandardLayout(4, -4, 8), std::vector<uint8_t>(16, 5)));
  BmpLayout os2 = StandardLayout(4, 4, 8);
  os2.headerSize = 12;
  seeds.Add(BmpFile(os2, std::vector<uint8_t>(16, 6)));
  BmpLayout sized = StandardLayout(16, 16, 8);
  sized.sizeImage = 200;
  sized.colorsUsed = 2;
  sized.colorTableEntries = 2;
  seeds.Add(BmpFile(sized, std::vector<uint8_t>(256, 7)));
  std::vector<uint8_t> cut = BmpFile(StandardLayout(16, 16, 24), PixelBlock(16, 24, Pixel));
  cut.resize(cut.size() / 2);
  seeds.Add(cut);
}

void Sequences(const std::filesystem::path& root) {
  CSeeds seeds(root, "sequence");
  seeds.Add("/img/p1.bmp, /luts/l1.lut\n/img/p2.zrn,/luts/l2.txt\n");
  seeds.Add("// comment\n/ another, comment\n\nrel/p.bmp , rel/l.lut ,\r\n p.bmp, l.lut\np.bmp\tl.lut\n");
  seeds.Add("a.bmp,,  ,b.lut trailing\n" + std::string(320, 'x') + ", y\nlast.bmp, last.lut");
  seeds.Add("");
  seeds.Add(std::string("p.bmp, l.lut\0hidden, text\n", 27));
}

void ZernikeFiles(const std::filesystem::path& root) {
  CSeeds seeds(root, "zernike");
  seeds.Add(std::string(ALL_ZERNIKE_TERMS));
  seeds.Add("Piston=0.25\r\nYTilt 1\nPower==\t2.5e-1\npiston=1\nComaX\t3\n=Piston 1\n");
  seeds.Add("Piston=1e400\nPower=-1e308\nXTilt=.5e+1x\nYTilt=nan\n" + std::string(310, '7') + "\nAstigX=1\n");
}

void Luts(const std::filesystem::path& root) {
  CSeeds seeds(root, "lut");
  seeds.Add(LutText(IdentityValues()));
  std::vector<int> inverted(256);
  for (int i = 0; i < 256; ++i) inverted[static_cast<size_t>(i)] = 255 - i;
  seeds.Add(LutText(inverted) + "256 1\ntrailing text");
  std::string tabs;
  for (int i = 0; i < 256; ++i) tabs += std::to_string(i) + "\t" + std::to_string(i / 2) + (i % 2 ? "\n" : " ");
  seeds.Add(tabs);
  std::string bad = LutText(IdentityValues());
  seeds.Add(bad.substr(0, bad.rfind("255 ")));
  seeds.Add("0 0\n1 -1\n");
  seeds.Add("0 300\n");
  seeds.Add("+0 +0\n1 99999999999999999999\n");
}

void Registry(const std::filesystem::path& root) {
  using namespace std::string_literals;
  CSeeds seeds(root, "registry");
  const std::string sorrel = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n";
  seeds.Add("REGEDIT4\n\n" + sorrel +
            "\"LaserDuty\"=\"50\"\n\"FrameRate\"=\"100\"\n\"LaserAGain\"=\"255\"\n\"LaserBGain\"=\"0\"\n"
            "\"LC_Type\"=\"1\"\n\"TrueFrames\"=\"12\"\n\"BoardType\"=\"Kite_SLM\"\n"
            "\"SequenceFile\"=\"/data/a\\\\b \\\"q\\\".sif\"\n\"PhaseCompFileName\"=\"/data/c.bmp\"\n"
            "\"SysPhaseCompFileName\"=\"\"\n\"ApplyCorrection\"=\"1\"\n\"HideComp\"=\"0\"\n\n");
  // Every form of value, a wrapped hex list, comments and keys of others.
  seeds.Add("REGEDIT4\n\n; note\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara]\n@=\"default\"\n\n" + sorrel +
            "\"Text\"=hex(1):6c,0a,00,78\n\"Count\"=dword:0000002a\n\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,\\\n"
            "  0b,0c\n\"Multi\"=hex(7):61,00,00,00\n; kept\n\n[HKEY_CURRENT_USER\\Other]\n\"x\" = \"C:\\dir\"\n");
  seeds.Add("\xEF\xBB\xBFREGEDIT4\r\n\r\n" + sorrel.substr(0, sorrel.size() - 1) +
            "\r\n\"FrameRate\"=\"25\"\r\n\"Blob\"=hex:01,\\\r\n  02\r\n");
  // Damage: a cut header, cut and malformed values, garbage, a section named twice.
  seeds.Add("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel\n\"LaserDuty\"=\"4\n"
            "\"FrameRate\"=hex(1):3z,00\n\"LC_Type\"=dword:123456789\n\x01\xfe\0garbage\n"
            "\"A\"=hex:01,\\\n\n  02\n[x] junk\n\"B\"=\"1\"x\n"s +
            sorrel + "\"framerate\"=\"7\"\n");
  seeds.Add("");
  seeds.Add("REGEDIT4\n");
}

// A working folder's files as one start-up input.
std::string Folder(const std::vector<std::string>& files) {
  std::string input;
  for (size_t i = 0; i < files.size(); ++i) input += (i > 0 ? STARTUP_FILE_END : "") + files[i];
  return input;
}

std::string Bytes(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Store(const std::string& values) {
  return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n" + values + "\n";
}

void Startups(const std::filesystem::path& root) {
  CSeeds seeds(root, "startup");
  const std::string typical =
      "\"FrameRate\"=\"100\"\n\"LaserDuty\"=\"50\"\n\"LaserAGain\"=\"200\"\n\"LaserBGain\"=\"100\"\n"
      "\"LC_Type\"=\"1\"\n\"TrueFrames\"=\"3\"\n\"BoardType\"=\"Kite_SLM\"\n\"SequenceFile\"=\"seq.sif\"\n";
  const std::string pattern = Bytes(BmpFile(StandardLayout(64, 64, 8), PixelBlock(64, 8, Pixel)));
  const std::string full = Bytes(BmpFile(StandardLayout(512, 512, 8), PixelBlock(512, 8, Pixel)));
  const std::string comp = Bytes(BmpFile(StandardLayout(32, 32, 24), PixelBlock(32, 24, Pixel)));
  const std::string powerOff = Bytes(BmpFile(StandardLayout(128, 128, 8), PixelBlock(128, 8, Pixel)));
  const std::string lut = LutText(IdentityValues());
  const std::string zernike = "Piston=0.25\nPower=1.5\nComaX=-0.5\n";
  const std::string twoEntries = "p.bmp, a.lut\nz.zrn, a.lut\n";
  // Compensation off; then on, from a bitmap and from a Zernike file.
  seeds.Add(Folder({Store(typical + "\"ApplyCorrection\"=\"0\"\n\"HideComp\"=\"0\"\n"), twoEntries, pattern,
                    zernike, lut, comp, powerOff}));
  seeds.Add(Folder({Store(typical +
                          "\"ApplyCorrection\"=\"1\"\n\"HideComp\"=\"0\"\n\"PhaseCompFileName\"=\"c.bmp\"\n"
                          "\"SysPhaseCompFileName\"=\"z.zrn\"\n"),
                    "p.bmp, a.lut\np.bmp, a.lut\nz.zrn, a.lut\n", full, zernike, lut, comp, powerOff}));
  // An amplitude modulator on a board of the other size, compensation hidden.
  seeds.Add(Folder({Store("\"BoardType\"=\"Wren_SLM\"\n\"LC_Type\"=\"0\"\n\"FrameRate\"=\"1000\"\n"
                          "\"SequenceFile\"=\"seq.sif\"\n\"HideComp\"=\"1\"\n\"ApplyCorrection\"=\"1\"\n"
                          "\"PhaseCompFileName\"=\"z.zrn\"\n"),
                    "z.zrn, a.lut\n", pattern, zernike, lut, comp, powerOff}));
  // Names of files not there, an empty store, no files at all.
  seeds.Add(Folder({Store(typical + "\"PhaseCompFileName\"=\"gone.bmp\"\n\"ApplyCorrection\"=\"1\"\n"),
                    "gone.bmp, a.lut\np.bmp, gone.lut\n", pattern, zernike, lut}));
  seeds.Add(Folder({"", "", "", "", "", "", ""}));
  seeds.Add("");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeSeeds <folder>\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  Bitmaps(root);
  Sequences(root);
  ZernikeFiles(root);
  Luts(root);
  Registry(root);
  Startups(root);
  return 0;
}
