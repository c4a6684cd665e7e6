#include "quor2_latency_histogram.h"

#include <algorithm>
#include <cmath>

namespace Orvane::Internal::QUOR2 {

namespace {
unsigned HighestBit(uint64_t v) { return 63u - static_cast<unsigned>(__builtin_clzll(v)); }
} // namespace

unsigned LatencyHistogram::BucketOf(uint64_t value) {
  if (value < kSubBuckets) return static_cast<unsigned>(value);
  const unsigned top = HighestBit(value);  // >= kSubBits
  const unsigned shift = top - kSubBits;
  const unsigned group = shift + 1;
  const unsigned sub = static_cast<unsigned>(value >> shift) - kSubBuckets;
  return group * kSubBuckets + sub;
}

uint64_t LatencyHistogram::BucketHighest(unsigned bucket) {
  if (bucket < kSubBuckets) return bucket;
  const unsigned group = bucket / kSubBuckets;
  const unsigned sub = bucket % kSubBuckets;
  const unsigned shift = group - 1;
  const uint64_t low = (uint64_t{kSubBuckets} + sub) << shift;
  return low + ((uint64_t{1} << shift) - 1);
}

uint64_t LatencyHistogram::BucketLowest(unsigned bucket) {
  if (bucket < kSubBuckets) return bucket;
  return (uint64_t{kSubBuckets} + bucket % kSubBuckets) << (bucket / kSubBuckets - 1);
}

void LatencyHistogram::Add(uint64_t value) {
  ++buckets[BucketOf(value)];
  ++count;
  sum += static_cast<long double>(value);
  min = std::min(min, value);
  max = std::max(max, value);
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
  for (unsigned b = 0; b < kBuckets; ++b) buckets[b] += other.buckets[b];
  count += other.count;
  sum += other.sum;
  min = std::min(min, other.min);
  max = std::max(max, other.max);
}

LatencyHistogram LatencyHistogram::Since(const LatencyHistogram& earlier) const {
  LatencyHistogram recent;
  for (unsigned b = 0; b < kBuckets; ++b) {
    recent.buckets[b] = buckets[b] - earlier.buckets[b];
    if (recent.buckets[b] == 0) continue;
    recent.min = std::min(recent.min, std::max(BucketLowest(b), min));
    recent.max = std::min(BucketHighest(b), max);
  }
  recent.count = count - earlier.count;
  recent.sum = sum - earlier.sum;
  return recent;
}

double LatencyHistogram::Mean() const {
  return count ? static_cast<double>(sum / static_cast<long double>(count)) : 0.0;
}

uint64_t LatencyHistogram::Percentile(double percent) const {
  if (count == 0) return 0;
  // The rank of the percentile, counted from 1: at least one value.
  const double wanted = std::ceil(percent / 100.0 * static_cast<double>(count));
  const uint64_t rank = std::max<uint64_t>(1, static_cast<uint64_t>(wanted));
  uint64_t seen = 0;
  for (unsigned b = 0; b < kBuckets; ++b) {
    seen += buckets[b];
    if (seen >= rank) return std::clamp(BucketHighest(b), Min(), max);
  }
  return max;
}

} // namespace Orvane::Internal::QUOR2
