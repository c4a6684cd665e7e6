// Reseed() must leave std::rand() exactly where std::srand() would, for any
// seed, and keep doing so across many reseeds (the generators reseed before
// every request).
#include "quor2_reseed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

using namespace Orvane::Internal::QUOR2;

namespace {
std::vector<int> Draws(unsigned n) {
  std::vector<int> v(n);
  for (int& x : v) x = std::rand();
  return v;
}
} // namespace

TEST(Reseed, TakesTheFastWayWithGlibc) {
#ifdef __GLIBC__
  EXPECT_TRUE(ReseedIsFast());
#else
  GTEST_SKIP() << "not glibc";
#endif
}

TEST(Reseed, RandContinuesAsAfterSrandForAnySeed) {
  std::mt19937 pick(7);
  std::vector<unsigned> seeds = {0u, 1u, 2u, 127773u, 2147483646u, 2147483647u, 2147483648u,
                                 4294967295u};
  for (int i = 0; i < 200; ++i) seeds.push_back(static_cast<unsigned>(pick()));
  for (unsigned seed : seeds) {
    std::srand(seed);
    const std::vector<int> expected = Draws(100);
    Reseed(seed);
    EXPECT_EQ(Draws(100), expected) << "seed " << seed;
  }
}
