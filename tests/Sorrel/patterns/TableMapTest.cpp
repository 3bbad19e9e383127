#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "EveryPath.h"
#include "TableMap.h"

namespace {

using TableMap = OnEveryPath<>;

// Each path gives the plain per-pixel rule, at every length (also the ragged ends a vector
// path has to finish on its own), and writes nothing past the image.
TEST_P(TableMap, FollowsThePixelRule) {
  const TableMapFunction map = TABLE_MAP_PATHS[Index()];
  std::mt19937 random(7);
  uint8_t table[256];
  for (uint8_t& entry : table) entry = static_cast<uint8_t>(random());
  for (size_t count : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{63}, size_t{64}, size_t{65},
                       size_t{1000}, size_t{16384}}) {
    std::vector<uint8_t> image(count), slm(count), sys(count);
    for (size_t i = 0; i < count; ++i) {
      image[i] = static_cast<uint8_t>(random());
      slm[i] = static_cast<uint8_t>(random());
      sys[i] = static_cast<uint8_t>(random());
    }
    std::vector<uint8_t> plain(count), compensated(count);
    for (size_t i = 0; i < count; ++i) {
      plain[i] = table[image[i]];
      compensated[i] = table[(image[i] + slm[i] + sys[i]) % 256];
    }
    // A guard byte behind the image shows any write past its end.
    std::vector<uint8_t> work = image;
    work.push_back(0x5A);
    map(work.data(), count, table, nullptr, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(work.begin(), work.end() - 1), plain) << count;
    EXPECT_EQ(work.back(), 0x5A);
    work.assign(image.begin(), image.end());
    work.push_back(0x5A);
    map(work.data(), count, table, slm.data(), sys.data());
    EXPECT_EQ(std::vector<uint8_t>(work.begin(), work.end() - 1), compensated) << count;
    EXPECT_EQ(work.back(), 0x5A);
  }
}

INSTANTIATE_ON_EVERY_PATH(TableMap);

}  // namespace
