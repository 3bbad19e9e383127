#include "PatternFiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

CTempFolder::CTempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/sorrel-patterns-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  m_Path = buffer.data();
}

CTempFolder::~CTempFolder() {
  std::error_code ec;
  // A test may have taken permissions away; give them back so that everything goes.
  for (auto it = std::filesystem::recursive_directory_iterator(m_Path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(m_Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_Path, ec);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> BmpFile(const SBmpLayout& layout, const std::vector<uint8_t>& pixelBlock) {
  const size_t table = 14 + std::max<size_t>(layout.headerSize, 40);
  const size_t headerEnd = table + 4 * size_t{layout.colorTableEntries};
  std::vector<uint8_t> file(headerEnd, 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<uint32_t>(file.size() + pixelBlock.size()));
  Put32(file, 10, static_cast<uint32_t>(layout.offBits < 0 ? headerEnd : static_cast<size_t>(layout.offBits)));
  Put32(file, 14, layout.headerSize);
  Put32(file, 18, static_cast<uint32_t>(layout.width));
  Put32(file, 22, static_cast<uint32_t>(layout.height));
  Put16(file, 26, 1);
  Put16(file, 28, layout.bitCount);
  Put32(file, 34, layout.sizeImage);
  Put32(file, 46, layout.colorsUsed);
  for (uint32_t i = 0; i < layout.colorTableEntries; ++i) {
    // A colour ramp that is not grey, so a reader that used it would show.
    file[table + 4 * i] = static_cast<uint8_t>(255 - i);
    file[table + 4 * i + 1] = static_cast<uint8_t>(i / 2);
    file[table + 4 * i + 2] = static_cast<uint8_t>(i);
  }
  file.insert(file.end(), pixelBlock.begin(), pixelBlock.end());
  return file;
}

SBmpLayout StandardLayout(int32_t width, int32_t height, uint16_t bitCount) {
  SBmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bitCount = bitCount;
  layout.colorTableEntries = bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
  return layout;
}

std::vector<uint8_t> PixelBlock(int side, uint16_t bitCount, const std::function<uint32_t(int y, int x)>& value) {
  const size_t rowBytes = (size_t{bitCount} * static_cast<size_t>(side) + 31) / 32 * 4;
  std::vector<uint8_t> block(rowBytes * static_cast<size_t>(side), 0);
  for (int stored = 0; stored < side; ++stored) {
    uint8_t* row = block.data() + static_cast<size_t>(stored) * rowBytes;
    const int y = side - 1 - stored;
    for (int x = 0; x < side; ++x) {
      uint32_t v = value(y, x);
      switch (bitCount) {
        case 4: row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? (v & 15) << 4 : (v & 15)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 16:
          row[2 * x] = static_cast<uint8_t>(v);
          row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        case 24:
          row[3 * x] = static_cast<uint8_t>(v);
          row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
          row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
          break;
        default: throw std::invalid_argument("depth");
      }
    }
  }
  return block;
}

void WriteSquareBitmap(const std::string& path, int side, uint16_t bitCount,
                       const std::function<uint32_t(int y, int x)>& value) {
  WriteBytes(path, BmpFile(StandardLayout(side, side, bitCount), PixelBlock(side, bitCount, value)));
}

std::string LutText(const std::vector<int>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) text += std::to_string(i) + " " + std::to_string(values[i]) + "\n";
  return text;
}

void WriteLut(const std::string& path, const std::vector<int>& values) { WriteText(path, LutText(values)); }

std::vector<int> IdentityValues() {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = i;
  return values;
}

CTestBoard::CTestBoard(uint16_t side) : CTestBoard(side, side) {}

CTestBoard::CTestBoard(uint16_t width, uint16_t height) {
  std::snprintf(m_BoardSpec.BoardName, sizeof m_BoardSpec.BoardName, "%s",
                width == 512 ? "Kite_SLM" : width == 256 ? "Wren_SLM" : "Test_SLM");
  m_BoardSpec.Width = width;
  m_BoardSpec.Height = height;
  m_BoardSpec.MaxFrames = width == 256 ? 4096 : 1024;
}
