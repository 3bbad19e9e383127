#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TableMap.h"

namespace {

// Both ways of mapping give the plain per-pixel rule, at every length (also the ragged
// ends the wide way has to mask).
TEST(TableMap, BothWaysFollowThePixelRule) {
  std::mt19937 random(7);
  uint8_t table[256];
  for (uint8_t& entry : table) entry = static_cast<uint8_t>(random());
  for (size_t count : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1000}, size_t{16384}}) {
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
    using Map = void (*)(uint8_t*, size_t, const uint8_t*, const uint8_t*, const uint8_t*);
    std::vector<std::pair<const char*, Map>> ways = {{"plain", MapThroughTablePlain}};
    if (ProcessorHasVbmi()) ways.emplace_back("vbmi", MapThroughTableVbmi);
    for (const auto& [name, map] : ways) {
      // A guard byte behind the image shows any write past its end.
      std::vector<uint8_t> work = image;
      work.push_back(0x5A);
      map(work.data(), count, table, nullptr, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(work.begin(), work.end() - 1), plain) << name << " " << count;
      EXPECT_EQ(work.back(), 0x5A) << name;
      work.assign(image.begin(), image.end());
      work.push_back(0x5A);
      map(work.data(), count, table, slm.data(), sys.data());
      EXPECT_EQ(std::vector<uint8_t>(work.begin(), work.end() - 1), compensated) << name << " " << count;
      EXPECT_EQ(work.back(), 0x5A) << name;
    }
  }
}

}  // namespace
