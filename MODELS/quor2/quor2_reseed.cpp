#include "quor2_reseed.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace Orvane::Internal::QUOR2 {

namespace {

// glibc's default generator: additive feedback x[n] = x[n-31] + x[n-3] over 31
// words, seeded by the minimal-standard LCG and run 310 steps before use.
constexpr int kDegree = 31;
constexpr int kSeparation = 3;
constexpr int kTypeAdditive = 3;  // TYPE_3, the type of a 128-byte state

constexpr uint64_t kModulus = 2147483647;  // 2^31 - 1
constexpr uint64_t kMultiplier = 16807;

// kPowers[i] = 16807^i mod (2^31 - 1).
constexpr std::array<uint64_t, kDegree> kPowers = [] {
  std::array<uint64_t, kDegree> powers{};
  powers[0] = 1;
  for (int i = 1; i < kDegree; ++i) powers[i] = powers[i - 1] * kMultiplier % kModulus;
  return powers;
}();

void MixedState(unsigned seed, int32_t* state) {
  // glibc fills the words by Schrage's method, word[i] = 16807 x word[i-1] mod
  // (2^31 - 1), which gives the true residue even for a seed read as a negative
  // int. So word[i] = 16807^i x seed mod (2^31 - 1): independent products
  // instead of a chain of divisions.
  const int64_t first = static_cast<int32_t>(seed == 0 ? 1u : seed);
  state[0] = static_cast<int32_t>(first);
  const auto residue = static_cast<uint64_t>((first % static_cast<int64_t>(kModulus) +
                                              static_cast<int64_t>(kModulus)) %
                                             static_cast<int64_t>(kModulus));
  for (int i = 1; i < kDegree; ++i)
    state[i] = static_cast<int32_t>(kPowers[i] * residue % kModulus);
  // The 310 steps of state[front] += state[rear], front running kSeparation
  // ahead of rear, are ten rounds of 31 that each end where they began: split
  // at the wrap, no index needs a bounds check.
  uint32_t words[kDegree];
  for (int i = 0; i < kDegree; ++i) words[i] = static_cast<uint32_t>(state[i]);
  for (int round = 0; round < 10; ++round) {
    for (int i = kSeparation; i < kDegree; ++i) words[i] += words[i - kSeparation];
    for (int i = 0; i < kSeparation; ++i) words[i] += words[i + kDegree - kSeparation];
  }
  for (int i = 0; i < kDegree; ++i) state[i] = static_cast<int32_t>(words[i]);
}

// setstate() buffer: the saved type and rear index, then the 31 words. Two
// buffers, so the one handed over is never the one the library is using.
alignas(int32_t) char buffers[2][(kDegree + 1) * sizeof(int32_t)];
unsigned nextBuffer = 0;

void FastReseed(unsigned seed) {
  auto* words = reinterpret_cast<int32_t*>(buffers[nextBuffer]);
  nextBuffer ^= 1u;
  // The saved word is 5 x rear index + type; srand() leaves the rear index at 0.
  words[0] = kTypeAdditive;
  MixedState(seed, words + 1);
  setstate(reinterpret_cast<char*>(words));
}

// Whether FastReseed() reproduces std::srand() here. The check runs on a
// scratch state and gives the library its previous state back.
bool FastReseedMatches() {
  static const unsigned seeds[] = {0u, 1u, 12345u, 2147483647u, 2147483648u, 4294967295u};
  alignas(int32_t) char scratch[(kDegree + 1) * sizeof(int32_t)];
  char* previous = initstate(1, scratch, sizeof(scratch));
  bool same = previous != nullptr;
  for (unsigned seed : seeds) {
    if (!same) break;
    int expected[40];
    std::srand(seed);
    for (int& v : expected) v = std::rand();
    FastReseed(seed);
    for (int v : expected) same = same && std::rand() == v;
  }
  if (previous != nullptr) setstate(previous);
  return same;
}

} // namespace

bool ReseedIsFast() {
  static const bool fast = FastReseedMatches();
  return fast;
}

void Reseed(unsigned seed) {
  if (ReseedIsFast())
    FastReseed(seed);
  else
    std::srand(seed);
}

} // namespace Orvane::Internal::QUOR2
