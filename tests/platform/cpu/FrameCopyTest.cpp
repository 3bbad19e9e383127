#include <gtest/gtest.h>

#include <algorithm>

#include "EveryPath.h"
#include "cpu/AlignedBytes.h"
#include "cpu/FrameCopy.h"

namespace {

using FrameCopy = OnEveryPath<>;

// Every length about the vector sizes and a whole frame, from and to every distance past a
// cache line: the bytes arrive and nothing beside the target changes.
TEST_P(FrameCopy, CopiesExactlyTheBytesWhateverTheAlignment) {
  constexpr size_t GUARD = 64;
  const cpu::CopyFunction copy = cpu::COPY_PATHS[Index()];
  for (size_t bytes : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{63}, size_t{64}, size_t{65},
                       size_t{127}, size_t{129}, size_t{255}, size_t{257}, size_t{1000}, size_t{512 * 512}}) {
    cpu::AlignedBytes source = cpu::NewAlignedBytes(bytes + 2 * GUARD);
    cpu::AlignedBytes target = cpu::NewAlignedBytes(bytes + 2 * GUARD);
    for (size_t i = 0; i < bytes + 2 * GUARD; ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 251);
    for (size_t from : {size_t{0}, size_t{1}, size_t{16}, size_t{32}, size_t{48}, size_t{63}}) {
      for (size_t to : {size_t{0}, size_t{1}, size_t{16}, size_t{33}, size_t{48}, size_t{64}}) {
        std::fill_n(target.get(), bytes + 2 * GUARD, uint8_t{0xA5});
        copy(target.get() + to, source.get() + from, bytes);
        ASSERT_TRUE(std::equal(source.get() + from, source.get() + from + bytes, target.get() + to))
            << bytes << " bytes from +" << from << " to +" << to;
        ASSERT_TRUE(std::all_of(target.get(), target.get() + to, [](uint8_t b) { return b == 0xA5; }))
            << "written before the target: " << bytes << " bytes to +" << to;
        ASSERT_TRUE(std::all_of(target.get() + to + bytes, target.get() + bytes + 2 * GUARD,
                                [](uint8_t b) { return b == 0xA5; }))
            << "written past the target: " << bytes << " bytes to +" << to;
      }
    }
  }
}

INSTANTIATE_ON_EVERY_PATH(FrameCopy);

}  // namespace
